#include "device/package/package_transaction.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <sstream>

#include "device/package/dpkg_database.h"
#include "device/package/package_paths.h"
#include "device/package/removal.h"
#include "platform/foundation/device.h"
#include "platform/foundation/folder_beneath.h"

namespace package {
namespace {

namespace fs = std::filesystem;
using device::Fd;
using device::openFolder;
using device::openFolderBeneath;

constexpr size_t kMaxJournalSize = 64 << 20;
const char* const kRecordKinds[] = {"control", "preinst", "postinst", "prerm", "postrm"};
constexpr const char* kNew = ".dpkg-new";
constexpr const char* kBackup = ".dpkg-tmp";

std::string errnoText(int e) { return std::strerror(e); }

std::string journalText(const Transaction& t, const char* status) {
  std::string text = std::string("Status: ") + status + "\nPackage: " + t.package +
                     "\nVersion: " + t.version + "\nOld-Version: " + t.old_version +
                     "\nUpgrade: " + (t.upgrade ? "yes" : "no") + "\nScripts:";
  for (const std::string& s : t.scripts) text += " " + s;
  text += "\n";
  for (const PlacedPath& p : t.paths)
    text += std::string(p.folder ? "D " : "F ") + (p.existed ? "e " : "n ") +
            (p.listed ? "l " : "u ") + p.path + "\n";
  for (const std::string& p : t.old_paths) text += "O " + p + "\n";
  return text;
}

std::string readJournal(const std::string& real_path, Transaction* t, std::string* status) {
  std::string text;
  if (std::string err = device::readWholeFile(real_path, kMaxJournalSize, &text); !err.empty())
    return err;
  std::istringstream in(text);
  auto value = [](const std::string& line, const char* field) {
    size_t n = std::strlen(field);
    return line.compare(0, n, field) == 0 ? line.substr(n) : std::string();
  };
  for (std::string line; std::getline(in, line);) {
    if (line.rfind("Status: ", 0) == 0) {
      *status = value(line, "Status: ");
    } else if (line.rfind("Package: ", 0) == 0) {
      t->package = value(line, "Package: ");
    } else if (line.rfind("Version: ", 0) == 0) {
      t->version = value(line, "Version: ");
    } else if (line.rfind("Old-Version: ", 0) == 0) {
      t->old_version = value(line, "Old-Version: ");
    } else if (line.rfind("Upgrade: ", 0) == 0) {
      t->upgrade = value(line, "Upgrade: ") == "yes";
    } else if (line.rfind("Scripts:", 0) == 0) {
      std::istringstream words(line.substr(8));
      for (std::string w; words >> w;) t->scripts.push_back(w);
    } else if (line.size() >= 6 && (line[0] == 'F' || line[0] == 'D') && line[1] == ' ' &&
               (line[2] == 'e' || line[2] == 'n') && line[3] == ' ' &&
               (line[4] == 'l' || line[4] == 'u') && line[5] == ' ') {
      std::string path = line.substr(6), normal;
      if (!path.empty() && (!normalizeEntryName(path, &normal).empty() || normal != path))
        return real_path + " names " + path + ", not a path of the device";
      t->paths.push_back({path, line[0] == 'D', line[2] == 'e', line[4] == 'l'});
    } else if (line.rfind("O /", 0) == 0) {
      t->old_paths.push_back(line.substr(2));
    } else if (!line.empty()) {
      return real_path + " holds a line it should not: " + line;
    }
  }
  if (!validPackageName(t->package) || (*status != "half-installed" && *status != "unpacked"))
    return real_path + " is not a journal of an install";
  return "";
}

std::string journalPath(const std::string& package) { return infoFile(package, "journal"); }

bool isScript(const std::string& kind) { return kind != "control"; }

std::string fileList(const std::vector<std::string>& recorded_paths) {
  std::string list = "/.\n";
  for (const std::string& p : recorded_paths) {
    if (p != "/.") list += p + "\n";
  }
  return list;
}

std::vector<std::string> newRecordedPaths(const Transaction& t) {
  std::vector<std::string> out;
  for (const PlacedPath& p : t.paths) {
    if (!p.path.empty() && p.listed) out.push_back(recorded(p.path));
  }
  return out;
}

// Whether anything, a link included, is at `leaf` in the open folder `parent`.
bool present(int parent, const std::string& leaf, struct stat* st = nullptr) {
  struct stat ignored;
  return fstatat(parent, leaf.c_str(), st != nullptr ? st : &ignored, AT_SYMLINK_NOFOLLOW) == 0;
}

}  // namespace

std::string beginTransaction(Transaction* t, const std::string& control,
                             const std::vector<std::pair<std::string, std::string>>& scripts) {
  Fd root(openFolder(device::root()));
  if (!root.ok()) return "cannot open the device root: " + errnoText(-root.get());
  for (PlacedPath& p : t->paths) {
    Fd parent(openFolderBeneath(root.get(), parentOf(p.path)));
    p.existed = p.path.empty() || (parent.ok() && present(parent.get(), leafOf(p.path)));
  }
  t->scripts.clear();
  if (std::string err = writeRecord(t->package, std::string("control") + kNew, control, false);
      !err.empty())
    return err;
  for (const auto& [kind, text] : scripts) {
    if (std::string err = writeRecord(t->package, kind + kNew, text, true); !err.empty())
      return err;
    t->scripts.push_back(kind);
  }
  if (std::string err =
          writeRecord(t->package, "journal", journalText(*t, "half-installed"), false);
      !err.empty())
    return err;
  // Every path either version has: whatever a kill leaves on the device is
  // recorded as this package's.
  std::vector<std::string> both = t->old_paths;
  for (const std::string& p : newRecordedPaths(*t)) {
    if (std::find(t->old_paths.begin(), t->old_paths.end(), p) == t->old_paths.end())
      both.push_back(p);
  }
  return writeRecord(t->package, "list", fileList(both), false);
}

std::string placeFiles(const Transaction& t, const std::string& data) {
  auto fail = [&](const std::string& why) {
    std::string undone = rollBackTransaction(t);
    return undone.empty() ? why : why + "; taking it back failed: " + undone;
  };
  Fd root(openFolder(device::root()));
  Fd unpacked(openFolder(data));
  if (!root.ok() || !unpacked.ok())
    return fail("cannot open the device or the unpacked files: " +
                errnoText(root.ok() ? -unpacked.get() : -root.get()));
  std::vector<const PlacedPath*> folders, files;
  for (const PlacedPath& p : t.paths) {
    if (abovePackageTree(p.path)) continue;
    (p.folder ? folders : files).push_back(&p);
  }
  std::sort(folders.begin(), folders.end(),
            [](const PlacedPath* a, const PlacedPath* b) { return a->path < b->path; });
  for (const PlacedPath* f : folders) {  // a parent before its children
    Fd parent(openFolderBeneath(root.get(), parentOf(f->path)));
    if (!parent.ok()) return fail("cannot make /" + f->path + ": " + wayError(-parent.get()));
    if (mkdirat(parent.get(), leafOf(f->path).c_str(), 0755) == 0) continue;
    struct stat st;
    if (errno != EEXIST) return fail("cannot make /" + f->path + ": " + errnoText(errno));
    if (!present(parent.get(), leafOf(f->path), &st))
      return fail("cannot make /" + f->path + ": " + errnoText(errno));
    if (!S_ISDIR(st.st_mode))
      return fail("cannot make /" + f->path + ": " +
                  (S_ISLNK(st.st_mode) ? "a link is in its place" : "a file is in its place") +
                  " (the device changed after the checks)");
  }
  for (const PlacedPath* p : files) {
    Fd from(openFolderBeneath(unpacked.get(), parentOf(p->path)));
    Fd to(openFolderBeneath(root.get(), parentOf(p->path)));
    if (!from.ok() || !to.ok())
      return fail("cannot place /" + p->path + ": " +
                  wayError(from.ok() ? -to.get() : -from.get()));
    const std::string next = leafOf(p->path) + kNew;
    unlinkat(to.get(), next.c_str(), 0);
    if (renameat(from.get(), leafOf(p->path).c_str(), to.get(), next.c_str()) != 0)
      return fail("cannot place /" + p->path + ": " + errnoText(errno));
  }
  for (const PlacedPath* p : files) {
    Fd to(openFolderBeneath(root.get(), parentOf(p->path)));
    if (!to.ok()) return fail("cannot install /" + p->path + ": " + wayError(-to.get()));
    const std::string leaf = leafOf(p->path), next = leaf + kNew, backup = leaf + kBackup;
    // What was there when the journal was written must be there still: a
    // replaced file is put back from its backup, a path that was free is
    // freed again.
    if (present(to.get(), leaf) != p->existed)
      return fail("cannot install /" + p->path + ": the device changed after the checks");
    if (p->existed) {
      unlinkat(to.get(), backup.c_str(), 0);
      if (linkat(to.get(), leaf.c_str(), to.get(), backup.c_str(), 0) != 0)
        return fail("cannot keep the replaced /" + p->path + ": " + errnoText(errno));
    }
    if (renameat(to.get(), next.c_str(), to.get(), leaf.c_str()) != 0)
      return fail("cannot install /" + p->path + ": " + errnoText(errno));
  }
  return "";
}

std::string commitTransaction(const Transaction& t) {
  return writeRecord(t.package, "journal", journalText(t, "unpacked"), false);
}

std::string finishTransaction(const Transaction& t, size_t* removed_old, std::string* failed) {
  std::error_code ec;
  for (const char* kind : kRecordKinds) {
    const std::string waiting = infoFile(t.package, std::string(kind) + kNew);
    if (fs::exists(fs::symlink_status(waiting, ec))) {
      fs::rename(waiting, infoFile(t.package, kind), ec);
      if (ec) return "cannot record " + infoFile(t.package, kind) + ": " + ec.message();
    } else if (isScript(kind) &&
               std::find(t.scripts.begin(), t.scripts.end(), kind) == t.scripts.end()) {
      fs::remove(infoFile(t.package, kind), ec);
    }
  }
  Fd root(openFolder(device::root()));
  for (const PlacedPath& p : t.paths) {
    if (p.folder || !root.ok()) continue;
    Fd parent(openFolderBeneath(root.get(), parentOf(p.path)));
    if (!parent.ok()) continue;
    unlinkat(parent.get(), (leafOf(p.path) + kBackup).c_str(), 0);
    unlinkat(parent.get(), (leafOf(p.path) + kNew).c_str(), 0);
  }
  std::vector<std::string> now = newRecordedPaths(t);
  const std::set<std::string> keep(now.begin(), now.end());
  Removal removal;
  std::set<std::string> left;
  if (std::string err = planRemoval(t.old_paths, keep, t.package, &removal); !err.empty()) {
    // Nothing of the old version is deleted; its record keeps it all.
    *failed = err;
    for (const std::string& p : t.old_paths) {
      if (!keep.count(p) && p != "/.") now.push_back(p);
    }
  } else {
    *failed = deleteRecorded(removal, removed_old, &left);
    for (const std::string& path : left) now.push_back(recorded(path));
  }
  if (std::string err = writeRecord(t.package, "list", fileList(now), false); !err.empty())
    return err;
  fs::remove(journalPath(t.package), ec);
  return ec ? "cannot remove " + journalPath(t.package) + ": " + ec.message() : "";
}

std::string rollBackTransaction(const Transaction& t) {
  Fd root(openFolder(device::root()));
  if (!root.ok()) return "cannot open the device root: " + errnoText(-root.get());
  for (auto it = t.paths.rbegin(); it != t.paths.rend(); ++it) {
    if (it->folder) continue;
    Fd parent(openFolderBeneath(root.get(), parentOf(it->path)));
    if (!parent.ok()) continue;  // nothing was placed where no folder leads
    const std::string leaf = leafOf(it->path), backup = leaf + kBackup;
    unlinkat(parent.get(), (leaf + kNew).c_str(), 0);
    if (present(parent.get(), backup)) {
      if (renameat(parent.get(), backup.c_str(), parent.get(), leaf.c_str()) != 0)
        return "cannot put back /" + it->path + ": " + errnoText(errno);
      unlinkat(parent.get(), backup.c_str(), 0);  // the rename does nothing over the same file
    } else if (!it->existed) {
      unlinkat(parent.get(), leaf.c_str(), 0);
    }
  }
  std::vector<const PlacedPath*> made;
  for (const PlacedPath& p : t.paths) {
    if (p.folder && !p.existed) made.push_back(&p);
  }
  std::sort(made.begin(), made.end(),
            [](const PlacedPath* a, const PlacedPath* b) { return a->path > b->path; });
  for (const PlacedPath* f : made) {  // a child before its parent
    Fd parent(openFolderBeneath(root.get(), parentOf(f->path)));
    if (parent.ok()) unlinkat(parent.get(), leafOf(f->path).c_str(), AT_REMOVEDIR);
  }
  std::error_code ec;
  for (const char* kind : kRecordKinds)
    fs::remove(infoFile(t.package, std::string(kind) + kNew), ec);
  if (t.upgrade) {
    if (std::string err = writeRecord(t.package, "list", fileList(t.old_paths), false);
        !err.empty())
      return err;
  } else {
    fs::remove(infoFile(t.package, "list"), ec);
  }
  fs::remove(journalPath(t.package), ec);
  return ec ? "cannot remove " + journalPath(t.package) + ": " + ec.message() : "";
}

std::string recoverTransactions(std::vector<std::string>* notes) {
  std::error_code ec;
  std::vector<std::string> journals, waiting;
  for (const auto& entry : fs::directory_iterator(device::devicePath(kInfoFolder), ec)) {
    if (entry.path().extension() == ".journal") journals.push_back(entry.path().string());
    if (entry.path().extension() == kNew) waiting.push_back(entry.path().string());
  }
  std::sort(journals.begin(), journals.end());
  for (const std::string& path : journals) {
    Transaction t;
    std::string status;
    if (std::string err = readJournal(path, &t, &status); !err.empty())
      return "the record of an install that was cut short cannot be used: " + err;
    const std::string what = "an install of " + t.package + " " + t.version + " that was cut short";
    if (status == "unpacked") {
      size_t removed = 0;
      std::string failed;
      if (std::string err = finishTransaction(t, &removed, &failed); !err.empty())
        return what + " cannot be finished: " + err;
      notes->push_back(what + " was finished; " + t.package + " " + t.version +
                       " is installed (its postinst did not run)" +
                       (failed.empty() ? "" : "; " + failed));
    } else {
      if (std::string err = rollBackTransaction(t); !err.empty())
        return what + " cannot be rolled back: " + err;
      notes->push_back(what + " was rolled back; " +
                       (t.upgrade ? t.package + " " + t.old_version + " is installed"
                                  : t.package + " is not installed"));
    }
  }
  // New records that a kill left before their journal was written (the
  // journals' own are in place or gone by now).
  for (const std::string& path : waiting) fs::remove(path, ec);
  return "";
}

}  // namespace package
