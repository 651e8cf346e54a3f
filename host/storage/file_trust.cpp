#include "host/storage/file_trust.h"

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <vector>

namespace host {
namespace {

namespace fs = std::filesystem;

constexpr mode_t kOthersWrite = S_IWGRP | S_IWOTH;

std::string ModeText(mode_t mode) {
  char text[8];
  std::snprintf(text, sizeof(text), "%04o", static_cast<unsigned>(mode & 07777));
  return text;
}

bool OwnedByUserOrRoot(const struct stat& about) { return about.st_uid == ::geteuid() || about.st_uid == 0; }

// "belongs to user nobody (65534), mode 0755"
std::string Belongs(const struct stat& about) {
  return "belongs to " + UserText(about.st_uid) + ", mode " + ModeText(about.st_mode);
}

// The folder that holds `path`, with links resolved; empty when it does
// not exist.
fs::path FolderOf(const std::string& path) {
  std::error_code missing;
  const fs::path parent = fs::path(path).parent_path();
  fs::path folder = fs::canonical(parent.empty() ? fs::path(".") : parent, missing);
  return missing ? fs::path() : folder;
}

std::string JudgeFile(const std::string& path) {
  struct stat about {};
  if (::lstat(path.c_str(), &about) != 0 || !S_ISREG(about.st_mode)) return "";
  if (!OwnedByUserOrRoot(about))
    return path + " " + Belongs(about) + "; a store must belong to you (" + UserText(::geteuid()) +
           ") or root: check what it holds, then chown " + UserName(::geteuid()) + " " + path + ", or remove it";
  if (about.st_mode & kOthersWrite)
    return path + " can be written by group or others (mode " + ModeText(about.st_mode) + "): chmod go-w " + path;
  return "";
}

std::string JudgeFolder(const fs::path& folder, bool own) {
  struct stat about {};
  if (::stat(folder.c_str(), &about) != 0) return "";
  const std::string name = own ? "the store's folder " + folder.string() : folder.string() + " above the store";
  if (!OwnedByUserOrRoot(about)) return name + " " + Belongs(about) + ": keep the store in a folder of your own";
  if (!(about.st_mode & kOthersWrite)) return "";
  if (own)
    return name + " can be written by group or others (mode " + ModeText(about.st_mode) +
           "), who could plant files beside the store: keep the store in a folder of your own, or chmod go-w " +
           folder.string();
  if (about.st_mode & S_ISVTX) return "";
  return name + " can be written by group or others and is not sticky (mode " + ModeText(about.st_mode) +
         "): chmod go-w " + folder.string() + ", or chmod +t " + folder.string();
}

std::string UntrustedPathProblem(const std::string& path) {
  if (std::string file = JudgeFile(path); !file.empty()) return file;
  const fs::path folder = FolderOf(path);
  if (folder.empty()) return "";
  if (std::string own = JudgeFolder(folder, true); !own.empty()) return own;
  for (fs::path above = folder.parent_path(); !above.empty(); above = above.parent_path()) {
    if (std::string verdict = JudgeFolder(above, false); !verdict.empty()) return verdict;
    if (above == above.root_path()) break;
  }
  return "";
}

std::string UntrustedSideFileProblem(const std::string& path, uid_t owner) {
  for (const char* suffix : kSideFileSuffixes) {
    const std::string side = path + suffix;
    struct stat about {};
    if (::lstat(side.c_str(), &about) != 0) continue;
    if (!S_ISREG(about.st_mode))
      return side + " beside the store is not a regular file; SQLite would use it: see what it is, then remove it";
    if (about.st_uid != owner)
      return side + " " + Belongs(about) + ", not to the store's owner (" + UserText(owner) +
             "): a journal someone else made is never applied; see where it came from, then remove it";
  }
  return "";
}

// Each check is a sentence found, or none; refused as "Access denied".
ozo::result_t Refusal(std::string found, std::string& problem) {
  problem = std::move(found);
  return problem.empty() ? ozo::results::NoError : ozo::results::AccessDenied;
}

}  // namespace

std::string UserName(uid_t uid) {
  std::vector<char> buffer(16384);
  passwd entry{};
  passwd* found = nullptr;
  if (::getpwuid_r(uid, &entry, buffer.data(), buffer.size(), &found) != 0 || !found) return std::to_string(uid);
  return found->pw_name;
}

std::string UserText(uid_t uid) {
  const std::string name = UserName(uid), id = std::to_string(uid);
  return name == id ? "user " + id : "user " + name + " (" + id + ")";
}

ozo::result_t CheckTrustedPath(const std::string& path, std::string& problem) {
  return Refusal(UntrustedPathProblem(path), problem);
}

ozo::result_t CheckSideFiles(const std::string& path, uid_t owner, std::string& problem) {
  return Refusal(UntrustedSideFileProblem(path, owner), problem);
}

}  // namespace host
