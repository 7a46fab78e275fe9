#include "tests/phone/phone_model.h"

#include "tests/phone/objc_image.h"

namespace velmo::phone {

PhoneModel::PhoneModel() {
  notify.on_main = [this] { return dispatch.on_main(); };
  // The binder of lazy pointers: never needed, since every pointer is bound at load.
  objc.RawFunction("dyld_stub_binder", [](Trap&) {
    throw ModelError("dyld_stub_binder was called: a lazy pointer was left unbound");
  });
  // The stack protector's canary and its failure.
  uint64_t guard = emu.Alloc(8);
  emu.Write64(guard, 0x2a5c0ffee15ca1e5);
  objc.Data("__stack_chk_guard", guard);
  objc.Function("__stack_chk_fail", "v", [](Msg&) -> Value {
    throw ModelError("__stack_chk_fail: the image overwrote a stack canary");
  });
}

void PhoneModel::SetArchitecture(Architecture arch) {
  if (!images_.empty()) throw EmulationError("the architecture is set before any image is loaded");
  architecture_ = arch;
  objc.pac.set_enabled(arch == Architecture::kArm64e);
}

LoadedImage& PhoneModel::Load(const std::string& path, bool run_initializers) {
  std::vector<uint8_t> bytes = ReadFileBytes(path);
  std::string name = path.substr(path.find_last_of('/') + 1);
  return LoadBytes(name, bytes, run_initializers);
}

LoadedImage& PhoneModel::LoadBytes(const std::string& name, std::span<const uint8_t> bytes,
                                   bool run_initializers) {
  auto resolve = [this](const std::string& symbol) {
    std::optional<uint64_t> address = objc.Resolve(symbol);
    return address ? address : ObjcClassSymbol(objc, symbol);
  };
  std::span<const uint8_t> slice = MachOImage::SelectSlice(bytes, architecture_);
  if (MachOImage::Parse(slice).architecture != architecture_)
    throw EmulationError(name + " is not " + ArchitectureName(architecture_) +
                         ", which this process takes only");
  auto image =
      std::make_unique<LoadedImage>(LoadImage(emu, name, slice, next_load_address_, resolve));
  uint64_t end = next_load_address_;
  for (const MachOSegment& s : image->image.segments)
    end = std::max(end, image->Slid(s.address) + s.size);
  next_load_address_ = (end + 0xffffff) & ~uint64_t{0xffffff};
  images_.push_back(std::move(image));
  LoadedImage& loaded = *images_.back();
  // The runtime maps the image's Objective-C metadata before its code runs.
  MapObjcMetadata(objc, loaded);
  if (run_initializers) RunInitializers(emu, loaded);
  return loaded;
}

RegisterResult PhoneModel::CallExport(const LoadedImage& image, const std::string& macho_symbol,
                                      std::vector<uint64_t> args) {
  if (args.size() > 8) throw EmulationError("CallExport takes at most eight arguments");
  RegisterArgs r;
  for (size_t i = 0; i < args.size(); ++i) r.x[i] = args[i];
  return emu.Call(image.Symbol(macho_symbol), r);
}

std::string PhoneModel::LeakReport() const { return objc.LeakReport() + blocks.LeakReport(); }

}  // namespace velmo::phone
