#include "platform/foundation/plist.h"

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <unordered_map>
#include <utility>
#include <vector>

#include "platform/foundation/collections.h"
#include "platform/foundation/device.h"
#include "platform/foundation/nsnumber.h"
#include "platform/foundation/nsstring.h"

namespace plist {
namespace {

// ---------------------------------------------------------------------------
// Bounds checked before libplist parses anything. libplist follows a binary
// list's references recursively and copies a value once per reference, so a
// small file can nest deep enough to overflow the stack or share values until
// memory runs out. These walks look only at the list's structure (which object
// refers to which) and refuse such files.

uint64_t bigEndian(const unsigned char* p, size_t size) {
  uint64_t v = 0;
  for (size_t i = 0; i < size; ++i) v = (v << 8) | p[i];
  return v;
}

class BinaryShape {
 public:
  explicit BinaryShape(std::string_view bytes)
      : data_(reinterpret_cast<const unsigned char*>(bytes.data())), size_(bytes.size()) {}

  std::string check() {
    if (size_ < 8 + 32) return "truncated binary property list";
    const unsigned char* trailer = data_ + size_ - 32;
    offset_size_ = trailer[6];
    ref_size_ = trailer[7];
    count_ = bigEndian(trailer + 8, 8);
    uint64_t top = bigEndian(trailer + 16, 8);
    table_ = bigEndian(trailer + 24, 8);
    if (offset_size_ < 1 || offset_size_ > 8 || ref_size_ < 1 || ref_size_ > 8) {
      return "binary property list with a bad trailer";
    }
    uint64_t objects_end = size_ - 32;
    if (count_ == 0 || top >= count_ || table_ < 8 || table_ >= objects_end ||
        count_ > (objects_end - table_) / offset_size_) {
      return "binary property list with a bad trailer";
    }
    state_.assign(count_, kUnseen);
    nodes_.assign(count_, 0);
    height_.assign(count_, 0);
    if (!visit(top, 1)) return error_;
    // Each reachable container's references, counted once, give the values
    // the list would hold if no container were shared (equal strings, numbers
    // and booleans are shared by every writer, and cost nothing more). What a
    // shared container adds on top is allowed up to kMaxNodes in all.
    uint64_t allowed = std::max<uint64_t>(kMaxNodes, 1 + references_);
    if (nodes_[top] > allowed) {
      return "binary property list that expands past " + std::to_string(allowed) + " values";
    }
    return "";
  }

 private:
  enum : uint8_t { kUnseen, kVisiting, kDone };

  bool fail(std::string message) {
    error_ = std::move(message);
    return false;
  }

  // Walks object `index` reached at nesting `depth`, filling in how many
  // values it expands to and how deep it nests.
  bool visit(uint64_t index, int depth) {
    if (depth > kMaxDepth) {
      return fail("property list nested deeper than " + std::to_string(kMaxDepth) + " levels");
    }
    if (state_[index] == kDone) return true;
    if (state_[index] == kVisiting) return fail("binary property list that contains itself");
    state_[index] = kVisiting;

    uint64_t offset = 0;
    if (!objectAt(index, &offset)) return fail("binary property list with a bad offset");
    unsigned type = data_[offset] >> 4;
    uint64_t nodes = 1;
    int height = 1;
    if (type == 0xA || type == 0xC || type == 0xD) {  // array, set, dictionary
      uint64_t count = 0;
      uint64_t pos = 0;
      if (!countAt(offset, &count, &pos)) return fail("binary property list with a bad count");
      uint64_t per_entry = type == 0xD ? 2 : 1;
      if (count > (table_ - pos) / ref_size_ / per_entry)
        return fail("truncated binary property list");
      references_ += count * per_entry;
      for (uint64_t r = 0; r < count * per_entry; ++r) {
        uint64_t child = bigEndian(data_ + pos + r * ref_size_, ref_size_);
        if (child >= count_) return fail("binary property list with a bad reference");
        // libplist cannot hand out a key with a NUL in it (it asserts).
        if (type == 0xD && r < count && keyHasNul(child)) {
          return fail("binary property list with a NUL character in a key");
        }
        if (!visit(child, depth + 1)) return false;
        nodes += nodes_[child];
        height = std::max(height, 1 + height_[child]);
        if (nodes > hardLimit()) {
          return fail("binary property list that expands past " + std::to_string(hardLimit()) +
                      " values");
        }
      }
    }
    nodes_[index] = nodes;
    height_[index] = height;
    state_[index] = kDone;
    return true;
  }

  // A bound the walk checks as it goes, so that it stops early on a list that
  // multiplies its values: a list whose containers are not shared expands to
  // one value per reference plus its top, and each reference takes at least a
  // byte of the file. (Objects can overlap in a crafted file, so the
  // references counted in the walk are no bound on their own.)
  uint64_t hardLimit() const { return std::max<uint64_t>(kMaxNodes, size_); }

  // The offset of object `index`, which must lie among the objects.
  bool objectAt(uint64_t index, uint64_t* offset) const {
    *offset = bigEndian(data_ + table_ + index * offset_size_, offset_size_);
    return *offset >= 8 && *offset < table_;
  }

  // The element (or byte, or code unit) count of the object at `offset`, and
  // where its contents start. A count of 15 in the marker means that the
  // count follows as an integer object.
  bool countAt(uint64_t offset, uint64_t* count, uint64_t* contents) const {
    *count = data_[offset] & 15;
    *contents = offset + 1;
    if (*count != 15) return true;
    uint64_t pos = offset + 1;
    if (pos >= table_ || (data_[pos] >> 4) != 1 || (data_[pos] & 15) > 3) return false;
    size_t width = size_t{1} << (data_[pos] & 15);
    if (pos + 1 + width > table_) return false;
    *count = bigEndian(data_ + pos + 1, width);
    *contents = pos + 1 + width;
    return true;
  }

  // Whether object `index` is an ASCII or UTF-16 string holding a NUL. Strings
  // that run past the objects are left for libplist to refuse.
  bool keyHasNul(uint64_t index) const {
    uint64_t offset = 0, count = 0, pos = 0;
    if (!objectAt(index, &offset) || !countAt(offset, &count, &pos)) return false;
    unsigned type = data_[offset] >> 4;
    if (type == 0x5) {
      if (count > table_ - pos) return false;
      return std::memchr(data_ + pos, 0, count) != nullptr;
    }
    if (type == 0x6) {
      if (count > (table_ - pos) / 2) return false;
      for (uint64_t i = 0; i < count; ++i) {
        if (data_[pos + 2 * i] == 0 && data_[pos + 2 * i + 1] == 0) return true;
      }
    }
    return false;
  }

  const unsigned char* data_;
  uint64_t size_;
  unsigned offset_size_ = 0;
  unsigned ref_size_ = 0;
  uint64_t count_ = 0;
  uint64_t table_ = 0;
  uint64_t references_ = 0;  // of the containers reached, each counted once
  std::vector<uint8_t> state_;
  std::vector<uint64_t> nodes_;
  std::vector<int> height_;
  std::string error_;
};

bool startsWith(std::string_view text, size_t at, std::string_view prefix) {
  return text.size() - at >= prefix.size() && text.compare(at, prefix.size(), prefix) == 0;
}

// Nesting of <array> and <dict> elements in an XML list, outside comments and
// character data. An empty element (<array/>) does not nest.
std::string checkXmlDepth(std::string_view text) {
  int depth = 0;
  for (size_t i = text.find('<'); i != std::string_view::npos; i = text.find('<', i + 1)) {
    if (startsWith(text, i, "<!--") || startsWith(text, i, "<![CDATA[")) {
      size_t end = text.find(text[i + 2] == '-' ? "-->" : "]]>", i + 4);
      if (end == std::string_view::npos) return "";  // unterminated: libplist refuses it
      i = end;
      continue;
    }
    bool closing = startsWith(text, i, "</");
    size_t name = i + (closing ? 2 : 1);
    size_t length = startsWith(text, name, "array") ? 5 : startsWith(text, name, "dict") ? 4 : 0;
    if (length == 0) continue;
    size_t after = name + length;
    if (after < text.size() && std::strchr("> \t\r\n/", text[after]) == nullptr) continue;
    if (closing) {
      depth = std::max(0, depth - 1);
      continue;
    }
    size_t end = text.find('>', after);
    if (end == std::string_view::npos) return "";
    if (text[end - 1] == '/') continue;
    if (++depth > kMaxDepth) {
      return "property list nested deeper than " + std::to_string(kMaxDepth) + " levels";
    }
  }
  return "";
}

std::string checkShape(std::string_view bytes) {
  if (startsWith(bytes, 0, "bplist00")) return BinaryShape(bytes).check();
  // XML has no NUL characters; libplist would keep one in a key and then
  // assert when the key is read.
  if (bytes.find('\0') != std::string_view::npos) return "not a property list (NUL character)";
  return checkXmlDepth(bytes);
}

// ---------------------------------------------------------------------------
// Conversion between libplist nodes and objects.

template <class T>
Strong<T> make(Class cls) {
  return adopt(static_cast<T*>(class_createInstance(cls)));
}

Strong<NSNumber> number(NSNumber::Kind kind, long long integer, double real) {
  auto n = make<NSNumber>(foundation::numberClass());
  n->kind = kind;
  n->integer = integer;
  n->real = real;
  return n;
}

Strong<objc_object> convert(plist_t node, int depth) {
  if (node == nullptr || depth > kMaxDepth) return nullptr;
  switch (plist_get_node_type(node)) {
    case PLIST_BOOLEAN: {
      uint8_t value = 0;
      plist_get_bool_val(node, &value);
      return foundation::boolNumber(value != 0);
    }
    case PLIST_UINT: {
      // libplist keeps every integer in 64 bits; the platform reads them signed.
      uint64_t value = 0;
      plist_get_uint_val(node, &value);
      return number(NSNumber::Kind::kInteger, static_cast<long long>(value), 0);
    }
    case PLIST_REAL: {
      double value = 0;
      plist_get_real_val(node, &value);
      return number(NSNumber::Kind::kReal, 0, value);
    }
    case PLIST_STRING: {
      uint64_t length = 0;
      const char* text = plist_get_string_ptr(node, &length);
      return foundation::newString(text ? std::string_view(text, length) : std::string_view());
    }
    case PLIST_DATA: {
      uint64_t length = 0;
      const char* bytes = plist_get_data_ptr(node, &length);
      std::vector<uint8_t> data;
      if (bytes != nullptr) data.assign(bytes, bytes + length);
      return foundation::newData(std::move(data));
    }
    case PLIST_DATE: {
      int32_t sec = 0, usec = 0;
      plist_get_date_val(node, &sec, &usec);
      return foundation::newDate(sec + usec / 1e6);
    }
    case PLIST_ARRAY: {
      auto array = make<NSArray>(foundation::arrayClass());
      array->items.reserve(plist_array_get_size(node));
      // An iterator steps to the next item; plist_array_get_item(i) walks
      // from the first, which makes a long array cost its length squared.
      plist_array_iter it = nullptr;
      plist_array_new_iter(node, &it);
      bool ok = it != nullptr;
      for (;;) {
        plist_t value = nullptr;
        if (ok) plist_array_next_item(node, it, &value);
        if (value == nullptr) break;
        Strong<objc_object> item = convert(value, depth + 1);
        if (!item) {
          ok = false;
          break;
        }
        array->items.push_back(std::move(item));
      }
      std::free(it);
      if (!ok) return nullptr;
      return array;
    }
    case PLIST_DICT: {
      auto dict = make<NSDictionary>(foundation::dictionaryClass());
      std::unordered_map<std::string, size_t> index;
      plist_dict_iter it = nullptr;
      plist_dict_new_iter(node, &it);
      bool ok = true;
      for (;;) {
        char* key = nullptr;
        plist_t value = nullptr;
        plist_dict_next_item(node, it, &key, &value);
        if (value == nullptr) {
          std::free(key);
          break;
        }
        std::string name = key ? key : "";
        std::free(key);
        Strong<objc_object> object = convert(value, depth + 1);
        if (!object) {
          ok = false;
          break;
        }
        auto [where, fresh] = index.emplace(name, dict->entries.size());
        if (fresh) {
          dict->entries.emplace_back(foundation::newString(name), std::move(object));
        } else {
          dict->entries[where->second].second = std::move(object);
        }
      }
      std::free(it);
      if (!ok) return nullptr;
      return dict;
    }
    default:  // keys only appear inside dictionaries; UIDs belong to archives
      return nullptr;
  }
}

bool isKind(id object, Class cls) { return msg<BOOL>(object, "isKindOfClass:"_sel, cls); }

Node build(id object, int depth) {
  if (object == nullptr || depth > kMaxDepth) return Node();
  if (foundation::isString(object)) {
    return Node(plist_new_string(static_cast<NSString*>(object)->text.c_str()));
  }
  if (foundation::isNumber(object)) {
    auto* n = static_cast<NSNumber*>(object);
    switch (n->kind) {
      case NSNumber::Kind::kBool:
        return Node(plist_new_bool(n->integer != 0));
      case NSNumber::Kind::kInteger:
        return Node(plist_new_uint(static_cast<uint64_t>(n->integer)));
      case NSNumber::Kind::kReal:
        return Node(plist_new_real(n->real));
    }
  }
  if (foundation::isArray(object)) {
    Node array(plist_new_array());
    for (const auto& item : static_cast<NSArray*>(object)->items) {
      Node child = build(item, depth + 1);
      if (!child) return Node();
      plist_array_append_item(array.get(), child.release());
    }
    return array;
  }
  if (foundation::isDictionary(object)) {
    Node dict(plist_new_dict());
    for (const auto& [key, value] : static_cast<NSDictionary*>(object)->entries) {
      if (!foundation::isString(key)) return Node();
      Node child = build(value, depth + 1);
      if (!child) return Node();
      plist_dict_set_item(dict.get(), static_cast<NSString*>(key.get())->text.c_str(),
                          child.release());
    }
    return dict;
  }
  if (isKind(object, foundation::dataClass())) {
    const auto& bytes = static_cast<NSData*>(object)->bytes;
    return Node(plist_new_data(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
  }
  if (isKind(object, foundation::dateClass())) {
    double since = static_cast<NSDate*>(object)->sinceReferenceDate;
    double whole = std::floor(since);
    if (!(whole >= std::numeric_limits<int32_t>::min() &&
          whole <= std::numeric_limits<int32_t>::max())) {
      return Node();
    }
    auto usec = static_cast<int32_t>(std::llround((since - whole) * 1e6));
    if (usec >= 1000000) usec = 999999;
    return Node(plist_new_date(static_cast<int32_t>(whole), usec));
  }
  return Node();
}

}  // namespace

Node& Node::operator=(Node&& o) noexcept {
  if (this != &o) {
    if (p_ != nullptr) plist_free(p_);
    p_ = o.release();
  }
  return *this;
}

Node::~Node() {
  if (p_ != nullptr) plist_free(p_);
}

plist_t Node::release() { return std::exchange(p_, nullptr); }

Result parse(std::string_view bytes) {
  if (bytes.empty()) return {nullptr, "empty property list"};
  if (bytes.size() > kMaxFileSize) {
    return {nullptr, "property list larger than " + std::to_string(kMaxFileSize) + " bytes"};
  }
  if (std::string e = checkShape(bytes); !e.empty()) return {nullptr, e};
  plist_t parsed = nullptr;
  plist_from_memory(bytes.data(), static_cast<uint32_t>(bytes.size()), &parsed);
  Node node(parsed);
  if (!node) return {nullptr, "not a property list"};
  Strong<objc_object> object = toObject(node.get());
  if (!object) return {nullptr, "property list holds a value that is no object"};
  return {std::move(object), ""};
}

Result readFile(const std::string& real_path) {
  std::string bytes;
  if (std::string e = device::readWholeFile(real_path, kMaxFileSize, &bytes); !e.empty()) {
    return {nullptr, e};
  }
  Result result = parse(bytes);
  if (!result.error.empty()) result.error = real_path + ": " + result.error;
  return result;
}

std::string toBinary(id object, std::string* out) {
  Node node = toNode(object);
  if (!node) return "object graph cannot be stored in a property list";
  char* bytes = nullptr;
  uint32_t length = 0;
  plist_to_bin(node.get(), &bytes, &length);
  if (bytes == nullptr) return "libplist could not serialise the property list";
  out->assign(bytes, length);
  plist_to_bin_free(bytes);
  return "";
}

std::string writeFile(const std::string& real_path, id object, mode_t mode) {
  std::string bytes;
  if (std::string e = toBinary(object, &bytes); !e.empty()) return real_path + ": " + e;
  return device::writeFileAtomically(real_path, bytes, mode);
}

Node toNode(id object) { return build(object, 1); }

Strong<objc_object> toObject(plist_t node) { return convert(node, 1); }

}  // namespace plist
