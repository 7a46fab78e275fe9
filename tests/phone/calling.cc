#include "tests/phone/calling.h"

#include <cstring>

namespace velmo::phone {
namespace {

uint64_t Extend(const TypeCode& t, uint64_t raw) {
  switch (t.size) {
    case 1:
      return t.is_signed ? static_cast<uint64_t>(static_cast<int8_t>(raw)) : (raw & 0xff);
    case 2:
      return t.is_signed ? static_cast<uint64_t>(static_cast<int16_t>(raw)) : (raw & 0xffff);
    case 4:
      return t.is_signed ? static_cast<uint64_t>(static_cast<int32_t>(raw)) : (raw & 0xffffffff);
    default:
      return raw;
  }
}

double FloatFromBits(uint64_t bits) {
  float f;
  uint32_t low = static_cast<uint32_t>(bits);
  memcpy(&f, &low, 4);
  return f;
}

// Walks a signature's arguments, assigning each its registers or stack
// offset as the convention does.
struct Placement {
  int ngrn = 0, nsrn = 0;
  uint64_t stack = 0;
  // Returns the stack offset for an argument of `size` bytes and `align`.
  uint64_t StackSlot(uint64_t size, uint64_t align) {
    stack = (stack + align - 1) & ~(align - 1);
    uint64_t at = stack;
    stack += size;
    return at;
  }
};

}  // namespace

std::vector<Value> DecodeArgs(const Trap& trap, const Signature& sig) {
  std::vector<Value> values;
  Placement p;
  for (const TypeCode& t : sig.args) {
    Value v;
    switch (t.cls) {
      case TypeCode::Class::kInteger:
        if (p.ngrn < 8) {
          uint64_t raw = trap.x(p.ngrn++);
          // BOOL and other narrow types are checked on their full register
          // by the model; keep the raw register for a poison check.
          v.u = t.size == 8 ? raw : Extend(t, raw);
          v.u2 = raw;
        } else {
          uint64_t at = p.StackSlot(t.size, t.size);
          uint64_t raw = t.size == 8   ? trap.Stack64(at)
                         : t.size == 4 ? trap.Stack32(at)
                                       : trap.Stack8(at);
          if (t.size == 2) raw = trap.Stack32(at) & 0xffff;
          v.u = Extend(t, raw);
          v.u2 = v.u;
        }
        break;
      case TypeCode::Class::kIntegerPair:
        if (p.ngrn + 2 <= 8) {
          v.u = trap.x(p.ngrn++);
          v.u2 = trap.x(p.ngrn++);
        } else {
          p.ngrn = 8;
          uint64_t at = p.StackSlot(16, 8);
          v.u = trap.Stack64(at);
          v.u2 = trap.Stack64(at + 8);
        }
        break;
      case TypeCode::Class::kFloat:
      case TypeCode::Class::kDouble: {
        double d;
        if (p.nsrn < 8) {
          d = trap.d(p.nsrn++);
        } else {
          uint64_t at = p.StackSlot(t.size, t.size);
          uint64_t bits = t.size == 8 ? trap.Stack64(at) : trap.Stack32(at);
          memcpy(&d, &bits, 8);
        }
        if (t.cls == TypeCode::Class::kFloat && !IsPoisonD(d)) {
          uint64_t bits;
          memcpy(&bits, &d, 8);
          d = FloatFromBits(bits);
        }
        v.d[0] = d;
        break;
      }
      case TypeCode::Class::kDoubles:
        if (p.nsrn + t.doubles <= 8) {
          for (int i = 0; i < t.doubles; ++i) v.d[i] = trap.d(p.nsrn++);
        } else {
          p.nsrn = 8;
          uint64_t at = p.StackSlot(8 * t.doubles, 8);
          for (int i = 0; i < t.doubles; ++i) {
            uint64_t bits = trap.Stack64(at + 8 * i);
            memcpy(&v.d[i], &bits, 8);
          }
        }
        break;
      case TypeCode::Class::kVoid:
        break;
    }
    values.push_back(v);
  }
  return values;
}

RegisterArgs EncodeArgs(const Signature& sig, const std::vector<Value>& args) {
  if (args.size() != sig.args.size())
    throw EmulationError("a call with signature " + sig.text + " takes " +
                         std::to_string(sig.args.size()) + " arguments, given " +
                         std::to_string(args.size()));
  RegisterArgs r;
  Placement p;
  auto put = [&](uint64_t at, const void* data, size_t size) {
    if (r.stack.size() < at + size) r.stack.resize(at + size);
    memcpy(r.stack.data() + at, data, size);
  };
  for (size_t i = 0; i < args.size(); ++i) {
    const TypeCode& t = sig.args[i];
    const Value& v = args[i];
    switch (t.cls) {
      case TypeCode::Class::kInteger: {
        uint64_t x = Extend(t, v.u);
        if (t.size < 4) x &= 0xffffffff;  // widened to 32 bits, as the caller does
        if (p.ngrn < 8) {
          r.x[p.ngrn++] = x;
        } else {
          put(p.StackSlot(t.size, t.size), &x, t.size);
        }
        break;
      }
      case TypeCode::Class::kIntegerPair:
        if (p.ngrn + 2 <= 8) {
          r.x[p.ngrn++] = v.u;
          r.x[p.ngrn++] = v.u2;
        } else {
          p.ngrn = 8;
          uint64_t at = p.StackSlot(16, 8);
          put(at, &v.u, 8);
          put(at + 8, &v.u2, 8);
        }
        break;
      case TypeCode::Class::kFloat:
      case TypeCode::Class::kDouble: {
        double d = v.d[0];
        if (t.cls == TypeCode::Class::kFloat) {
          float f = static_cast<float>(d);
          uint64_t bits = 0;
          memcpy(&bits, &f, 4);
          memcpy(&d, &bits, 8);
        }
        if (p.nsrn < 8) {
          r.d[p.nsrn++] = d;
        } else {
          put(p.StackSlot(t.size, t.size), &d, t.size);
        }
        break;
      }
      case TypeCode::Class::kDoubles:
        if (p.nsrn + t.doubles <= 8) {
          for (int k = 0; k < t.doubles; ++k) r.d[p.nsrn++] = v.d[k];
        } else {
          p.nsrn = 8;
          uint64_t at = p.StackSlot(8 * t.doubles, 8);
          for (int k = 0; k < t.doubles; ++k) put(at + 8 * k, &v.d[k], 8);
        }
        break;
      case TypeCode::Class::kVoid:
        break;
    }
  }
  return r;
}

void WriteResult(Trap& trap, const TypeCode& t, const Value& v) {
  switch (t.cls) {
    case TypeCode::Class::kVoid:
      return;
    case TypeCode::Class::kInteger: {
      uint64_t x = t.code == 'B' ? (v.u != 0) : Extend(t, v.u);
      if (t.size < 8) x = (x & 0xffffffff) | (kPoisonX << 32);
      trap.Return(x);
      return;
    }
    case TypeCode::Class::kIntegerPair:
      trap.Return2(v.u, v.u2);
      return;
    case TypeCode::Class::kFloat: {
      float f = static_cast<float>(v.d[0]);
      uint64_t bits = 0;
      memcpy(&bits, &f, 4);
      double d;
      memcpy(&d, &bits, 8);
      trap.ReturnDouble({d}, 1);
      return;
    }
    case TypeCode::Class::kDouble:
      trap.ReturnDouble({v.d[0]}, 1);
      return;
    case TypeCode::Class::kDoubles:
      trap.ReturnDouble(v.d, t.doubles);
      return;
  }
}

Value ReadResult(const TypeCode& t, const RegisterResult& r) {
  Value v;
  switch (t.cls) {
    case TypeCode::Class::kVoid:
      break;
    case TypeCode::Class::kInteger:
      v.u = Extend(t, r.x0);
      break;
    case TypeCode::Class::kIntegerPair:
      v = Value::Pair(r.x0, r.x1);
      break;
    case TypeCode::Class::kFloat: {
      uint64_t bits;
      memcpy(&bits, &r.d[0], 8);
      v.d[0] = FloatFromBits(bits);
      break;
    }
    case TypeCode::Class::kDouble:
      v.d[0] = r.d[0];
      break;
    case TypeCode::Class::kDoubles:
      v.d = r.d;
      break;
  }
  return v;
}

}  // namespace velmo::phone
