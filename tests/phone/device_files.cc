#include "tests/phone/device_files.h"

#include <plist/plist.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>

namespace velmo::phone {
namespace fs = std::filesystem;
namespace {

struct PlistFree {
  void operator()(plist_t p) const { plist_free(p); }
};
using PlistPtr = std::unique_ptr<void, PlistFree>;

std::string TakeString(char* text) {
  std::string s = text ? text : "";
  free(text);
  return s;
}

PlistPtr ParseFile(const std::string& host_path) {
  std::ifstream in(host_path, std::ios::binary);
  if (!in) return nullptr;
  std::stringstream bytes;
  bytes << in.rdbuf();
  std::string data = bytes.str();
  if (data.empty() || data.size() > (64u << 20)) return nullptr;
  plist_t root = nullptr;
  plist_from_memory(data.data(), static_cast<uint32_t>(data.size()), &root);
  return PlistPtr(root);
}

void WriteBinary(const std::string& host_path, plist_t root) {
  char* bytes = nullptr;
  uint32_t length = 0;
  plist_to_bin(root, &bytes, &length);
  if (!bytes) throw ModelError("libplist could not write " + host_path);
  fs::create_directories(fs::path(host_path).parent_path());
  std::ofstream out(host_path, std::ios::binary | std::ios::trunc);
  out.write(bytes, length);
  plist_to_bin_free(bytes);
  if (!out) throw ModelError("cannot write " + host_path);
}

plist_t ToPlist(const DeviceFiles::PlistValue& v) {
  if (const bool* b = std::get_if<bool>(&v)) return plist_new_bool(*b);
  if (const int64_t* i = std::get_if<int64_t>(&v)) return plist_new_uint(static_cast<uint64_t>(*i));
  if (const double* d = std::get_if<double>(&v)) return plist_new_real(*d);
  return plist_new_string(std::get<std::string>(v).c_str());
}

}  // namespace

DeviceFiles::DeviceFiles(Runtime& runtime, Foundation& foundation)
    : rt_(runtime), foundation_(foundation) {
  std::string pattern = (fs::temp_directory_path() / "velmo-phone-XXXXXX").string();
  if (!mkdtemp(pattern.data())) throw ModelError("cannot make the phone's device folder");
  root_ = pattern;

  rt_.DefineClass("NSData");
  rt_.DefineClass("NSFileManager")
      .ClassMethod("defaultManager", "@#:",
                   [this](Msg&) -> Value {
                     if (default_manager_ == 0)
                       default_manager_ =
                           foundation_.Immortal(rt_.AllocObject(&rt_.Class("NSFileManager")));
                     return default_manager_;
                   })
      .Method("fileExistsAtPath:", "B@:@", [this](Msg& m) -> Value { return Exists(m.Str(0)); });
  rt_.DefineClass("NSDictionary")
      .ClassMethod("dictionaryWithContentsOfFile:", "@#:@", [this](Msg& m) -> Value {
        uint64_t object = ReadObject(m.Str(0));
        return foundation_.IsDictionary(object) ? object : 0;
      });
  rt_.DefineClass("NSUserDefaults")
      .ClassMethod("standardUserDefaults", "@#:",
                   [this](Msg&) -> Value {
                     if (standard_defaults_ == 0)
                       standard_defaults_ =
                           foundation_.Immortal(rt_.AllocObject(&rt_.Class("NSUserDefaults")));
                     return standard_defaults_;
                   })
      .Method("objectForKey:inDomain:", "@@:@@",
              [this](Msg& m) -> Value {
                uint64_t domain = ReadObject(DomainPath(m.Str(1)));
                return foundation_.IsDictionary(domain) ? foundation_.Lookup(domain, m.Str(0)) : 0;
              })
      .Method("setObject:forKey:inDomain:", "v@:@@@",
              [this](Msg& m) -> Value {
                std::string path = DomainPath(m.Str(2));
                PlistPtr root = ParseFile(HostPath(path));
                if (!root || plist_get_node_type(root.get()) != PLIST_DICT)
                  root.reset(plist_new_dict());
                plist_t value = ToPlist(ModelValue(m.U(0)));
                plist_dict_set_item(root.get(), m.Str(1).c_str(), value);
                WriteBinary(HostPath(path), root.get());
                return {};
              })
      .Method("synchronize", "B@:", [this](Msg&) -> Value {
        ++synchronizations_;
        return synchronize_result_;
      });
}

DeviceFiles::~DeviceFiles() {
  std::error_code ec;
  fs::remove_all(root_, ec);
}

std::string DeviceFiles::HostPath(const std::string& phone_path) const {
  if (phone_path.empty() || phone_path[0] != '/')
    throw ModelError("the phone path \"" + phone_path + "\" is not absolute");
  for (const auto& part : fs::path(phone_path))
    if (part == "..") throw ModelError("the phone path \"" + phone_path + "\" climbs with ..");
  return root_ + phone_path;
}

std::string DeviceFiles::DomainPath(const std::string& domain) {
  return "/var/jb/var/mobile/Library/Preferences/" + domain + ".plist";
}

void DeviceFiles::WritePlist(const std::string& phone_path, const PlistEntries& entries) {
  PlistPtr root(plist_new_dict());
  for (const auto& [key, value] : entries)
    plist_dict_set_item(root.get(), key.c_str(), ToPlist(value));
  WriteBinary(HostPath(phone_path), root.get());
}

void DeviceFiles::WriteBytes(const std::string& phone_path, const std::string& bytes) {
  std::string host = HostPath(phone_path);
  fs::create_directories(fs::path(host).parent_path());
  std::ofstream out(host, std::ios::binary | std::ios::trunc);
  out << bytes;
}

void DeviceFiles::Remove(const std::string& phone_path) {
  std::error_code ec;
  fs::remove(HostPath(phone_path), ec);
}

bool DeviceFiles::Exists(const std::string& phone_path) const {
  std::error_code ec;
  return fs::exists(HostPath(phone_path), ec);
}

std::map<std::string, DeviceFiles::PlistValue> DeviceFiles::ReadPlist(
    const std::string& phone_path) const {
  std::map<std::string, PlistValue> result;
  PlistPtr root = ParseFile(HostPath(phone_path));
  if (!root || plist_get_node_type(root.get()) != PLIST_DICT) return result;
  plist_dict_iter iter = nullptr;
  plist_dict_new_iter(root.get(), &iter);
  for (;;) {
    char* key = nullptr;
    plist_t value = nullptr;
    plist_dict_next_item(root.get(), iter, &key, &value);
    if (!key) break;
    std::string name = TakeString(key);
    switch (plist_get_node_type(value)) {
      case PLIST_BOOLEAN: {
        uint8_t b = 0;
        plist_get_bool_val(value, &b);
        result[name] = b != 0;
        break;
      }
      case PLIST_UINT: {
        uint64_t u = 0;
        plist_get_uint_val(value, &u);
        result[name] = static_cast<int64_t>(u);
        break;
      }
      case PLIST_REAL: {
        double d = 0;
        plist_get_real_val(value, &d);
        result[name] = d;
        break;
      }
      case PLIST_STRING: {
        char* s = nullptr;
        plist_get_string_val(value, &s);
        result[name] = TakeString(s);
        break;
      }
      default:
        result[name] = std::string("<other>");
    }
  }
  free(iter);
  return result;
}

void DeviceFiles::Install(const std::string& host_folder) {
  fs::copy(host_folder, root_, fs::copy_options::recursive | fs::copy_options::overwrite_existing);
}

uint64_t DeviceFiles::ReadObject(const std::string& phone_path) {
  PlistPtr root = ParseFile(HostPath(phone_path));
  if (!root) return 0;
  return FromPlist(root.get());
}

uint64_t DeviceFiles::FromPlist(void* node) {
  switch (plist_get_node_type(node)) {
    case PLIST_BOOLEAN: {
      uint8_t b = 0;
      plist_get_bool_val(node, &b);
      return foundation_.Bool(b != 0);
    }
    case PLIST_UINT: {
      uint64_t u = 0;
      plist_get_uint_val(node, &u);
      return foundation_.Integer(static_cast<int64_t>(u));
    }
    case PLIST_REAL: {
      double d = 0;
      plist_get_real_val(node, &d);
      return foundation_.Double(d);
    }
    case PLIST_STRING: {
      char* s = nullptr;
      plist_get_string_val(node, &s);
      return foundation_.String(TakeString(s));
    }
    case PLIST_ARRAY: {
      std::vector<uint64_t> items;
      for (uint32_t i = 0; i < plist_array_get_size(node); ++i)
        items.push_back(FromPlist(plist_array_get_item(node, i)));
      return foundation_.Array(items);
    }
    case PLIST_DICT: {
      std::vector<std::pair<std::string, uint64_t>> entries;
      plist_dict_iter iter = nullptr;
      plist_dict_new_iter(node, &iter);
      for (;;) {
        char* key = nullptr;
        plist_t value = nullptr;
        plist_dict_next_item(node, iter, &key, &value);
        if (!key) break;
        std::string name = TakeString(key);
        entries.emplace_back(name, FromPlist(value));
      }
      free(iter);
      return foundation_.Dictionary(entries);
    }
    default:
      // Data, dates and the rest: an object with none of the conversions.
      return rt_.Autorelease(rt_.AllocObject(&rt_.Class("NSData")));
  }
}

DeviceFiles::PlistValue DeviceFiles::ModelValue(uint64_t object) const {
  if (auto text = foundation_.Text(object)) return *text;
  if (auto number = foundation_.Number(object)) {
    if (const bool* b = std::get_if<bool>(&*number)) return *b;
    if (const int64_t* i = std::get_if<int64_t>(&*number)) return *i;
    return std::get<double>(*number);
  }
  throw ModelError("the model writes only strings, numbers and booleans into user defaults");
}

}  // namespace velmo::phone
