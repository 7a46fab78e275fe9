#include "device/package/installer.h"

#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <map>
#include <set>
#include <sstream>
#include <vector>

#include "device/package/archive_entries.h"
#include "device/package/base_packages.h"
#include "device/package/dpkg_database.h"
#include "device/package/maintainer_scripts.h"
#include "device/package/package_paths.h"
#include "device/package/package_transaction.h"
#include "device/package/removal.h"
#include "device/package/run_tool.h"
#include "platform/foundation/device.h"
#include "platform/foundation/folder_beneath.h"

namespace package {
namespace {

namespace fs = std::filesystem;
using device::Fd;
using device::openFolder;
using device::removeTreeBeneath;
using Type = ArchiveEntry::Type;

constexpr size_t kMaxControlSize = 1 << 20;
// All members of a package's control part together.
constexpr uint64_t kMaxControlPartSize = 4 << 20;
// No package may bring files into the record of what packages own.
constexpr const char* kDatabase = "var/jb/var/lib/dpkg";
const char* const kScripts[] = {"preinst", "postinst", "prerm", "postrm"};
constexpr const char* kStagingPrefix = "tmp.";

std::string errnoText(int e) { return std::strerror(e); }

// A folder for unpacking inside the device's package record (so that moving
// out of it is a rename on one file system), removed with everything in it
// when this goes, through the record's folder as it was opened.
class Staging {
 public:
  ~Staging() {
    if (database_.ok() && !name_.empty()) removeTreeBeneath(database_.get(), name_);
  }
  std::string make() {
    const std::string folder = device::devicePath(kDpkgFolder);
    database_ = Fd(openFolder(folder));
    if (!database_.ok()) return "cannot open " + folder + ": " + errnoText(-database_.get());
    std::string pattern = folder + "/" + kStagingPrefix + "XXXXXX";
    if (mkdtemp(pattern.data()) == nullptr) return "cannot make a staging folder in " + pattern;
    path_ = pattern;
    name_ = fs::path(pattern).filename().string();
    return "";
  }
  const std::string& path() const { return path_; }

 private:
  Fd database_;
  std::string path_, name_;
};

// Removes what installs that were killed on their way left in the package
// record: their staging folders. Called with the record's lock held, so that
// none of them is in use.
void removeAbandonedStaging() {
  const std::string folder = device::devicePath(kDpkgFolder);
  Fd database(openFolder(folder));
  if (!database.ok()) return;
  std::error_code ec;
  for (const auto& entry : fs::directory_iterator(folder, ec)) {
    std::string name = entry.path().filename().string();
    if (name.rfind(kStagingPrefix, 0) == 0) removeTreeBeneath(database.get(), name);
  }
}

// One entry of the package as it will be installed.
struct Planned {
  std::string path;  // "var/jb/Library/x"
  Type type;
  std::string link;
};
bool isFolder(Type t) { return t == Type::kDirectory; }

std::string octal(unsigned mode) {
  char text[8];
  std::snprintf(text, sizeof text, "%04o", mode & 07777);
  return text;
}

bool installed(const std::string& name) {
  std::vector<std::string> ignored;
  return validPackageName(name) && readFileList(name, &ignored);
}

// The paths the plan places, with the folders on their way inside /var/jb
// that the archive does not list.
std::vector<PlacedPath> placedPaths(const std::vector<Planned>& plan) {
  std::vector<PlacedPath> out;
  std::set<std::string> seen;
  for (const Planned& p : plan) {
    for (std::string f = parentOf(p.path); insidePackageTree(f); f = parentOf(f)) {
      if (seen.insert(f).second) out.push_back({f, true, false, false});
    }
    if (seen.insert(p.path).second) {
      out.push_back({p.path, isFolder(p.type), false, true});
    } else {
      for (PlacedPath& q : out) q.listed = q.listed || q.path == p.path;
    }
  }
  return out;
}

// The folders a maintainer script must leave where they are: the device's
// own, those of the plan, and those any installed package records.
std::vector<std::string> guarded(const std::vector<Planned>& plan) {
  std::set<std::string> folders = {
      "var",        "var/run",        "var/run/processes", "var/db",    "var/jb",
      "var/jb/var", "var/jb/var/lib", "var/jb/var/mobile", kPreferences};
  for (const Planned& p : plan) {
    for (std::string f = isFolder(p.type) ? p.path : parentOf(p.path); !f.empty(); f = parentOf(f))
      folders.insert(f);
  }
  for (const auto& [path, owner] : filesOfOtherPackages("")) {
    std::string normal;
    if (path.size() > 1 && normalizeEntryName(path.substr(1), &normal).empty())
      folders.insert(normal);  // files among them are passed over when held
  }
  return {folders.begin(), folders.end()};
}

std::string notUsable(const std::string& deb, const ToolResult& r) {
  std::string why = lastLine(r.errors);
  return deb + " is not a usable package: " + (why.empty() ? "dpkg-deb failed" : why);
}

ToolResult dpkgDeb(const std::vector<std::string>& args) {
  ToolRun run;
  run.argv = {"dpkg-deb"};
  run.argv.insert(run.argv.end(), args.begin(), args.end());
  return runTool(run);
}

// Lists a part of the package (`--ctrl-tarfile` or `--fsys-tarfile`) from
// dpkg-deb's output as it comes, keeping nothing on disk, and stops once the
// files add up to more than `max_size` (`*too_big` set).
std::string listPart(const std::string& deb, const std::string& archive, const char* part,
                     uint64_t max_size, std::vector<ArchiveEntry>* entries, bool* too_big) {
  ToolRun run;
  run.argv = {"dpkg-deb", part, archive};
  run.read_stdout = [&](int fd) { return readArchiveEntries(fd, max_size, entries, too_big); };
  ToolResult r = runTool(run);
  if (*too_big) return r.read_error;
  if (r.status != 0) return notUsable(deb, r);
  if (!r.read_error.empty()) return deb + " is not a usable package: " + r.read_error;
  return "";
}

// The first of a Depends field's entries ("a, b (>= 1) | c") of which no
// alternative is installed, or "". Versions are not compared.
std::string missingDependency(const std::string& depends) {
  for (const std::vector<std::string>& alternatives : dependsEntries(depends)) {
    bool met = std::any_of(alternatives.begin(), alternatives.end(), installed);
    if (!met) return alternatives.front();
  }
  return "";
}

// The installed packages whose Depends `name` alone satisfies, one of their
// entries naming it and no other alternative of that entry installed.
std::vector<std::string> dependents(const std::string& name) {
  std::vector<std::string> out;
  for (const std::string& other : installedPackages()) {
    if (other == name) continue;
    std::string control;
    device::readWholeFile(infoFile(other, "control"), kMaxControlSize, &control);
    for (const std::vector<std::string>& alternatives :
         dependsEntries(parseControl(control)["Depends"])) {
      if (std::find(alternatives.begin(), alternatives.end(), name) == alternatives.end()) continue;
      bool other_met = std::any_of(alternatives.begin(), alternatives.end(),
                                   [&](const std::string& a) { return a != name && installed(a); });
      if (!other_met) {
        out.push_back(other);
        break;
      }
    }
  }
  return out;
}

// Checks every entry of the data archive and turns it into the plan. An entry
// must stay in /var/jb (the folders above it may be listed), must not climb
// with "..", must not be special, must not be reached through a link (of the
// package or of the device: the checks below judge the path as written, so it
// must be the place written to), a link must lead to a place in /var/jb
// (following the package's links and the device's), a hard link must name a
// file of the package, no entry may be in the user's preferences folder, and
// no file may be another package's or replace a folder of the device.
std::string planEntries(const std::vector<ArchiveEntry>& entries, const std::string& package,
                        std::vector<Planned>* plan) {
  std::map<std::string, std::string> links;
  std::map<std::string, Type> seen;
  for (const ArchiveEntry& e : entries) {
    std::string path;
    if (std::string err = normalizeEntryName(e.name, &path); !err.empty()) return err;
    if (e.type == Type::kOther) return e.name + " is neither a file, a folder nor a link";
    if (!insidePackageTree(path) && !(abovePackageTree(path) && isFolder(e.type)))
      return e.name + " is outside /var/jb";
    if (path == kDatabase || path.rfind(std::string(kDatabase) + "/", 0) == 0)
      return e.name + " is inside the package database";
    if (inPreferences(path))
      return e.name + " is in the user's preferences folder /" + kPreferences +
             ", which no package may install into";
    for (const char* suffix : {".dpkg-new", ".dpkg-old", ".dpkg-tmp"}) {
      const size_t n = std::strlen(suffix);
      if (path.size() >= n && path.compare(path.size() - n, n, suffix) == 0)
        return e.name + " ends in " + suffix +
               ", a name the installer keeps for its own temporary files";
    }
    if ((e.type == Type::kFile || isFolder(e.type)) && (e.mode & 0002) != 0)
      return e.name + " is writable by every user (mode " + octal(e.mode) +
             "), which no file of a package may be";
    if (auto it = seen.find(path); it != seen.end()) {
      if (isFolder(it->second) && isFolder(e.type)) continue;
      return e.name + " appears twice in the archive";
    }
    if (e.type == Type::kHardlink) {
      std::string target;
      if (std::string err = normalizeEntryName(e.link, &target); !err.empty()) return err;
      auto it = seen.find(target);
      if (it == seen.end() || it->second != Type::kFile)
        return e.name + " is a hard link to " + e.link + ", which is not a file of the package";
    }
    if (e.type == Type::kSymlink) links[path] = e.link;
    seen[path] = e.type;
    plan->push_back({path, e.type, e.link});
  }

  std::map<std::string, std::string> owners = filesOfOtherPackages(package);
  for (const Planned& p : *plan) {
    if (abovePackageTree(p.path)) continue;
    std::string shown = recorded(p.path), where;
    std::string folder = isFolder(p.type) ? p.path : parentOf(p.path);
    if (std::string err = resolveInDevice(device::root(), folder, links, &where); !err.empty())
      return shown + " leads out of the device: " + err;
    if (!insidePackageTree(where)) return shown + " leads out of /var/jb, to /" + where;
    if (where != folder)
      return shown + " is reached through a link: /" + folder + " leads to /" + where;
    if (p.type == Type::kSymlink) {
      // An absolute target would name the machine's own files, not the device's.
      std::string err =
          !p.link.empty() && p.link[0] == '/'
              ? "its target is absolute"
              : resolveInDevice(device::root(), parentOf(p.path) + "/" + p.link, links, &where);
      if (!err.empty())
        return "the link " + shown + " -> " + p.link + " leads out of the device: " + err;
      if (!insidePackageTree(where))
        return "the link " + shown + " -> " + p.link + " leads out of /var/jb, to /" + where;
    }
    std::error_code ec;
    if (isFolder(p.type)) {
      fs::file_status st = fs::status(onDevice(p.path), ec);
      if (fs::exists(st) && !fs::is_directory(st))
        return shown + " is a file on the device, not a folder";
      continue;
    }
    if (auto it = owners.find(shown); it != owners.end())
      return shown + " belongs to the installed package " + it->second;
    if (fs::is_directory(fs::symlink_status(onDevice(p.path), ec)))
      return shown + " is a folder on the device";
  }
  return "";
}

// What dpkg-deb unpacked must be what the listing showed, entry for entry,
// each link with the target that was checked.
std::string compareUnpacked(const std::string& data, const std::vector<Planned>& plan) {
  std::map<std::string, std::pair<Type, std::string>> expected;  // path -> type, link target
  for (const Planned& p : plan) {
    // tar makes the folders on an entry's way that the archive does not list.
    for (std::string f = parentOf(p.path); !f.empty(); f = parentOf(f))
      expected[f] = {Type::kDirectory, ""};
  }
  for (const Planned& p : plan) {
    if (p.type == Type::kSymlink)
      expected[p.path] = {Type::kSymlink, p.link};
    else
      expected[p.path] = {p.type == Type::kHardlink ? Type::kFile : p.type, ""};
  }
  size_t files = 0;
  std::error_code ec;
  for (auto it = fs::recursive_directory_iterator(data, ec); !ec && it != fs::end(it);
       it.increment(ec)) {
    // Lexically: a link must be named, not followed.
    std::string path = it->path().lexically_relative(data).generic_string();
    fs::file_status st = it->symlink_status(ec);
    Type type = fs::is_symlink(st)        ? Type::kSymlink
                : fs::is_directory(st)    ? Type::kDirectory
                : fs::is_regular_file(st) ? Type::kFile
                                          : Type::kOther;
    auto e = expected.find(path);
    if (e == expected.end() || e->second.first != type)
      return "dpkg-deb unpacked /" + path + ", which the archive's listing does not show";
    if (type == Type::kSymlink) {
      std::string target = fs::read_symlink(it->path(), ec).string();
      if (ec) break;
      if (target != e->second.second)
        return "dpkg-deb unpacked the link /" + path + " -> " + target +
               ", which the listing shows as -> " + e->second.second;
    }
    if (!isFolder(type)) ++files;
  }
  if (ec) return "cannot read the unpacked files: " + ec.message();
  size_t planned =
      std::count_if(plan.begin(), plan.end(), [](const Planned& p) { return !isFolder(p.type); });
  if (files != planned) return "dpkg-deb did not unpack every file the archive lists";
  return "";
}

// Takes the setuid, setgid and sticky bits off every unpacked file and
// folder, before any of it reaches the device: no file of a package runs
// with its owner's rights. The staging folder is the installer's alone (it is
// read-only to scripts), so the paths are its own.
std::string clearSpecialBits(const std::string& data, const std::vector<Planned>& plan) {
  Fd unpacked(openFolder(data));
  if (!unpacked.ok()) return "cannot open the unpacked files: " + errnoText(-unpacked.get());
  for (const Planned& p : plan) {
    if (p.type != Type::kFile && !isFolder(p.type)) continue;
    Fd parent(p.path.empty() ? Fd(fcntl(unpacked.get(), F_DUPFD_CLOEXEC, 0))
                             : Fd(device::openFolderBeneath(unpacked.get(), parentOf(p.path))));
    const std::string leaf = p.path.empty() ? "." : leafOf(p.path);
    struct stat st;
    if (!parent.ok() || fstatat(parent.get(), leaf.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0)
      return "cannot look at the unpacked /" + p.path;
    if ((st.st_mode & 07000) == 0 || S_ISLNK(st.st_mode)) continue;
    if (fchmodat(parent.get(), leaf.c_str(), st.st_mode & 0777, 0) != 0)
      return "cannot set the mode of the unpacked /" + p.path + ": " + errnoText(errno);
  }
  return "";
}

// Checks the members of the package's control part as listed: regular files
// at its top only (a link named ./control or ./postinst would have the
// installer read, record and run a file of the machine).
std::string checkControlMembers(const std::vector<ArchiveEntry>& members) {
  for (const ArchiveEntry& m : members) {
    std::string path;
    if (std::string err = normalizeEntryName(m.name, &path); !err.empty())
      return "its control part holds " + err;
    if (path.empty() && m.type == Type::kDirectory) continue;
    const char* what = m.type == Type::kSymlink     ? "a link"
                       : m.type == Type::kHardlink  ? "a hard link"
                       : m.type == Type::kDirectory ? "a folder"
                       : m.type == Type::kFile      ? nullptr
                                                    : "a special file";
    if (what != nullptr)
      return "its control part's " + m.name + " is " + what + ", not a regular file";
    if (path.find('/') != std::string::npos)
      return "its control part's " + m.name + " is in a folder, not at the top";
  }
  return "";
}

std::string megabytes(uint64_t bytes) { return std::to_string(bytes >> 20) + " MiB"; }

bool hasScript(const std::string& path) {
  std::error_code ec;
  return fs::is_regular_file(fs::symlink_status(path, ec));
}

}  // namespace

std::string installPackage(const std::string& deb, Outcome* outcome) {
  DatabaseLock lock;
  if (std::string err = lock.acquire(); !err.empty()) return err;
  removeAbandonedStaging();
  if (std::string err = recoverTransactions(&outcome->notes); !err.empty()) return err;
  Staging staging;
  if (std::string err = staging.make(); !err.empty()) return err;
  const std::string control_dir = staging.path() + "/DEBIAN";
  const std::string data = staging.path() + "/data";

  struct stat st;
  if (stat(deb.c_str(), &st) != 0) return deb + " is not a usable package: " + errnoText(errno);
  if (!S_ISREG(st.st_mode)) return deb + " is not a usable package: it is not a regular file";
  if (static_cast<uint64_t>(st.st_size) > kMaxUnpackedSize)
    return "refused " + deb + ": the package file is larger than " + megabytes(kMaxUnpackedSize) +
           ", the most a package may unpack to";
  // dpkg-deb reads only a copy taken once, so that a package file changed
  // while it is checked cannot bring in entries the checks did not see.
  const std::string archive = staging.path() + "/package.deb";
  std::error_code ec;
  if (!fs::copy_file(deb, archive, ec) || ec)
    return deb + " is not a usable package: " + (ec ? ec.message() : "it cannot be copied");

  std::vector<ArchiveEntry> members;
  bool too_big = false;
  if (std::string err =
          listPart(deb, archive, "--ctrl-tarfile", kMaxControlPartSize, &members, &too_big);
      !err.empty())
    return too_big ? "refused " + deb + ": its control part is too large: " + err : err;
  if (std::string err = checkControlMembers(members); !err.empty())
    return "refused " + deb + ": " + err;
  ToolResult r = dpkgDeb({"--control", archive, control_dir});
  if (r.status != 0) return notUsable(deb, r);
  std::string control;
  if (std::string err = device::readWholeFile(control_dir + "/control", kMaxControlSize, &control);
      !err.empty())
    return deb + " has no readable control file: " + err;
  std::map<std::string, std::string> fields;
  if (std::string err = readControl(control, &fields); !err.empty())
    return "refused " + deb + ": its control file: " + err;
  const std::string name = fields["Package"], version = fields["Version"];
  if (!validPackageName(name)) return deb + " names no valid package (Package: " + name + ")";
  if (isBasePackage(name))
    return "refused " + deb + ": " + name +
           " is a base package of the device, which no package file may replace";
  if (version.empty() || version.find_first_of(" \t\n/") != std::string::npos)
    return deb + " has no valid Version";
  const std::string arch = fields["Architecture"];
  if (arch != "all" && arch != VELMO_DEVICE_ARCH)
    return "refused " + deb + ": it is built for " + (arch.empty() ? "no architecture" : arch) +
           ", the device is " + VELMO_DEVICE_ARCH;
  if (std::string missing = missingDependency(fields["Depends"]); !missing.empty())
    return "refused " + deb + ": it depends on " + missing + ", which is not installed";

  std::vector<ArchiveEntry> entries;
  if (std::string err =
          listPart(deb, archive, "--fsys-tarfile", kMaxUnpackedSize, &entries, &too_big);
      !err.empty())
    return too_big ? "refused " + deb + ": " + err + ", more than the " +
                         megabytes(kMaxUnpackedSize) + " a package may unpack to"
                   : err;
  std::vector<Planned> plan;
  if (std::string err = planEntries(entries, name, &plan); !err.empty())
    return "refused " + deb + ": " + err;

  fs::create_directory(data, ec);
  r = dpkgDeb({"--extract", archive, data});
  if (r.status != 0) return notUsable(deb, r);
  if (std::string err = compareUnpacked(data, plan); !err.empty())
    return "refused " + deb + ": " + err;
  if (std::string err = clearSpecialBits(data, plan); !err.empty())
    return "cannot prepare " + deb + ": " + err;

  std::vector<std::string> old_paths;
  std::string old_version;
  bool upgrade = readFileList(name, &old_paths);
  if (upgrade) {
    std::string old_control;
    device::readWholeFile(infoFile(name, "control"), kMaxControlSize, &old_control);
    old_version = parseControl(old_control)["Version"];
  }
  // The files of the installed version that this one lacks, judged before
  // anything changes.
  Transaction t;
  t.package = name;
  t.version = version;
  t.upgrade = upgrade;
  t.old_version = old_version;
  t.old_paths = old_paths;
  t.paths = placedPaths(plan);
  std::set<std::string> now;
  for (const PlacedPath& p : t.paths) {
    if (p.listed) now.insert(recorded(p.path));
  }
  Removal removal;
  if (std::string err = planRemoval(old_paths, now, name, &removal); !err.empty())
    return "refused " + deb + ": " + err;

  MaintainerScripts scripts(name, arch);
  const bool preinst = hasScript(control_dir + "/preinst");
  if (std::string err = scripts.prepare(preinst || hasScript(control_dir + "/postinst"));
      !err.empty())
    return err + "; nothing was installed";
  if (preinst) {
    std::vector<std::string> args = {upgrade ? "upgrade" : "install"};
    if (upgrade) args.push_back(old_version);
    if (std::string err = scripts.run(control_dir + "/preinst", "preinst", args, guarded(plan));
        !err.empty())
      return err + "; nothing was installed";
    // The preinst may have changed the device: the checks again, on the
    // device as it left it.
    std::vector<Planned> again;
    if (std::string err = planEntries(entries, name, &again); !err.empty())
      return "refused " + deb + " after its preinst ran: " + err + "; nothing was installed";
  }

  std::vector<std::pair<std::string, std::string>> script_texts;
  for (const char* kind : kScripts) {
    std::string script;
    std::string from = control_dir + "/" + kind;
    if (!hasScript(from)) continue;
    if (std::string err = device::readWholeFile(from, kMaxControlSize, &script); !err.empty())
      return deb + " has an unreadable " + kind + ": " + err;
    script_texts.emplace_back(kind, script);
  }
  // From here on a kill leaves a journal that the next install or remove
  // finishes or rolls back.
  if (std::string err = beginTransaction(&t, control, script_texts); !err.empty()) {
    std::string undone = rollBackTransaction(t);
    return err + (undone.empty() ? "; nothing was installed" : "; " + undone);
  }
  if (std::string err = placeFiles(t, data); !err.empty()) return err + "; nothing was installed";
  if (std::string err = commitTransaction(t); !err.empty()) {
    std::string undone = rollBackTransaction(t);
    return err + (undone.empty() ? "; nothing was installed" : "; " + undone);
  }
  for (const Planned& p : plan) {
    if (!isFolder(p.type)) ++outcome->files;
  }
  size_t dropped = 0;
  std::string failed;
  if (std::string err = finishTransaction(t, &dropped, &failed); !err.empty())
    return err + "; the next install or remove finishes recording " + name + " " + version;
  outcome->package = name;
  outcome->version = version;
  std::vector<std::string> postinst_args = {"configure"};
  if (upgrade) postinst_args.push_back(old_version);
  std::string err =
      scripts.run(infoFile(name, "postinst"), "postinst", postinst_args, guarded(plan));
  if (!failed.empty()) {
    failed += " of " + name + " " + old_version + "; " + version +
              " is installed and its record keeps them";
    return err.empty() ? failed : failed + "; " + err;
  }
  if (!err.empty()) return err + "; its files are installed";
  return "";
}

std::string removePackage(const std::string& name, Outcome* outcome) {
  if (!validPackageName(name)) return name + " is not a package name";
  if (isBasePackage(name))
    return "refused to remove " + name +
           ": it is an essential package of the device - it should not be removed";
  DatabaseLock lock;
  if (std::string err = lock.acquire(); !err.empty()) return err;
  removeAbandonedStaging();
  if (std::string err = recoverTransactions(&outcome->notes); !err.empty()) return err;
  std::vector<std::string> paths;
  if (!readFileList(name, &paths)) return "package " + name + " is not installed";
  if (std::vector<std::string> needing = dependents(name); !needing.empty()) {
    std::string why;
    for (const std::string& d : needing)
      why += (why.empty() ? "" : "; ") + d + " depends on " + name;
    return "dependency problems prevent removal of " + name + ": " + why + "; nothing was removed";
  }
  std::string control;
  device::readWholeFile(infoFile(name, "control"), kMaxControlSize, &control);
  auto fields = parseControl(control);
  outcome->package = name;
  outcome->version = fields["Version"];
  Removal removal;
  if (std::string err = planRemoval(paths, {}, name, &removal); !err.empty())
    return err + "; nothing was removed";
  MaintainerScripts scripts(name, fields["Architecture"].empty() ? "all" : fields["Architecture"]);
  if (std::string err = scripts.prepare(hasScript(infoFile(name, "prerm")) ||
                                        hasScript(infoFile(name, "postrm")));
      !err.empty())
    return err + "; nothing was removed";
  if (std::string err = scripts.run(infoFile(name, "prerm"), "prerm", {"remove"}, guarded({}));
      !err.empty())
    return err + "; nothing was removed";
  std::set<std::string> left;
  if (std::string failed = deleteRecorded(removal, &outcome->files, &left); !failed.empty()) {
    // The package stays installed with what is left; its postrm does not run.
    std::string list = "/.\n";
    for (const std::string& path : left) list += recorded(path) + "\n";
    std::string err = writeRecord(name, "list", list, false);
    return failed + "; " + name +
           (err.empty() ? " stays installed, its record lists what is left"
                        : " stays installed, but its record could not be updated: " + err);
  }
  if (std::string err = scripts.run(infoFile(name, "postrm"), "postrm", {"remove"}, guarded({}));
      !err.empty())
    return err + "; its files are removed, its record kept";
  std::error_code ec;
  for (const char* kind : {"list", "control", "preinst", "postinst", "prerm", "postrm"})
    fs::remove(infoFile(name, kind), ec);
  return "";
}

}  // namespace package
