#include "platform/registry.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <nlohmann/json.hpp>
#include <sstream>

namespace tarn {
namespace {

namespace fs = std::filesystem;
using nlohmann::json;

constexpr const char* kTypeNames[] = {"string", "expand-string", "multi-string",
                                      "dword",  "qword",         "binary"};

std::string TypeName(RegistryType type) { return kTypeNames[static_cast<int>(type)]; }

RegistryType TypeFromName(const std::string& name) {
  for (int i = 0; i < 6; ++i) {
    if (name == kTypeNames[i]) return static_cast<RegistryType>(i);
  }
  throw RegistryError("unknown value type \"" + name + "\"");
}

bool SameName(std::string_view a, std::string_view b) {
  auto trim = [](std::string_view s) {
    while (!s.empty() && s.front() == '\\') s.remove_prefix(1);
    while (!s.empty() && s.back() == '\\') s.remove_suffix(1);
    return s;
  };
  a = trim(a);
  b = trim(b);
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    auto lower = [](char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c; };
    if (lower(a[i]) != lower(b[i])) return false;
  }
  return true;
}

std::string SystemError(const std::string& what, const fs::path& path, int err) {
  return what + " \"" + path.string() + "\": " + std::strerror(err);
}

// Loads the store; a missing file is an empty store. Throws RegistryError
// when the file cannot be read or is not a store.
json Load(const fs::path& file) {
  std::error_code ec;
  if (!fs::exists(file, ec) && !ec) return json{{"keys", json::array()}};
  std::ifstream in(file, std::ios::binary);
  if (!in) throw RegistryError(SystemError("Cannot read", file, errno));
  std::stringstream text;
  text << in.rdbuf();
  json doc = json::parse(text.str(), nullptr, /*allow_exceptions=*/false);
  if (!doc.is_object() || !doc.contains("keys") || !doc["keys"].is_array()) {
    throw RegistryError("\"" + file.string() + "\" is not a readable settings store");
  }
  return doc;
}

json* FindKey(json& doc, std::string_view key) {
  for (json& k : doc["keys"]) {
    if (k.is_object() && k.contains("path") && k["path"].is_string() &&
        SameName(k["path"].get<std::string>(), key)) {
      return &k;
    }
  }
  return nullptr;
}

json* FindValue(json& key, std::string_view name) {
  if (!key.contains("values") || !key["values"].is_array()) return nullptr;
  for (json& v : key["values"]) {
    if (v.is_object() && v.contains("name") && v["name"].is_string() &&
        SameName(v["name"].get<std::string>(), name)) {
      return &v;
    }
  }
  return nullptr;
}

class Fd {
 public:
  explicit Fd(int fd) : fd_(fd) {}
  ~Fd() {
    if (fd_ >= 0) ::close(fd_);
  }
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  int get() const { return fd_; }
  int release() {
    const int fd = fd_;
    fd_ = -1;
    return fd;
  }

 private:
  int fd_;
};

void WriteAll(int fd, const std::string& data, const fs::path& path) {
  size_t done = 0;
  while (done < data.size()) {
    const ssize_t n = ::write(fd, data.data() + done, data.size() - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      throw RegistryError(SystemError("Cannot write", path, errno));
    }
    done += static_cast<size_t>(n);
  }
}

void SyncDirectory(const fs::path& dir) {
  Fd fd(::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (fd.get() >= 0) ::fsync(fd.get());
}

Registry* g_installed = nullptr;

}  // namespace

fs::path FileRegistry::DefaultPath() {
  const char* xdg = std::getenv("XDG_CONFIG_HOME");
  fs::path base;
  if (xdg != nullptr && xdg[0] == '/') {
    base = xdg;
  } else {
    const char* home = std::getenv("HOME");
    base = fs::path(home != nullptr && home[0] != '\0' ? home : "/tmp") / ".config";
  }
  return base / "tarn" / "registry.json";
}

std::optional<RegistryValue> FileRegistry::ReadValue(std::string_view key, std::string_view name) {
  json doc = Load(file_);
  json* k = FindKey(doc, key);
  if (k == nullptr) return std::nullopt;
  json* v = FindValue(*k, name);
  if (v == nullptr) return std::nullopt;
  if (!v->contains("type") || !(*v)["type"].is_string() || !v->contains("data") ||
      !(*v)["data"].is_string()) {
    throw RegistryError("value \"" + std::string(name) + "\" is damaged");
  }
  return RegistryValue{TypeFromName((*v)["type"].get<std::string>()),
                       (*v)["data"].get<std::string>()};
}

std::optional<std::string> FileRegistry::ReadString(std::string_view key, std::string_view name) {
  std::optional<RegistryValue> value = ReadValue(key, name);
  if (!value) return std::nullopt;
  if (value->type != RegistryType::kString && value->type != RegistryType::kExpandString) {
    throw RegistryError("Invalid data type for '" + std::string(name) + "'");
  }
  return std::move(value->data);
}

void FileRegistry::WriteString(std::string_view key, std::string_view name,
                               std::string_view value) {
  WriteValue(key, name, RegistryValue{RegistryType::kString, std::string(value)});
}

void FileRegistry::WriteValue(std::string_view key, std::string_view name,
                              const RegistryValue& value) {
  const fs::path dir = file_.parent_path();
  std::error_code ec;
  if (!fs::exists(dir, ec)) {
    fs::create_directories(dir, ec);
    if (ec) throw RegistryError(SystemError("Cannot create", dir, ec.value()));
    fs::permissions(dir, fs::perms::owner_all, ec);
  }

  // Writers take turns on a lock file, so two processes cannot lose each other's values.
  const fs::path lock_path = file_.string() + ".lock";
  Fd lock(::open(lock_path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600));
  if (lock.get() < 0) throw RegistryError(SystemError("Cannot open", lock_path, errno));
  while (::flock(lock.get(), LOCK_EX) != 0) {
    if (errno != EINTR) throw RegistryError(SystemError("Cannot lock", lock_path, errno));
  }

  // Temporary files left by a writer that died mid-way.
  const std::string tmp_prefix = file_.filename().string() + ".tmp-";
  for (const auto& entry : fs::directory_iterator(dir, ec)) {
    if (entry.path().filename().string().rfind(tmp_prefix, 0) == 0) fs::remove(entry.path(), ec);
  }

  json doc;
  bool unreadable = false;
  try {
    doc = Load(file_);
  } catch (const RegistryError&) {
    // Keep the damaged file aside rather than lose it, and start afresh.
    unreadable = fs::exists(file_, ec);
    if (!unreadable) throw;
    doc = json{{"keys", json::array()}};
  }

  json* k = FindKey(doc, key);
  if (k == nullptr) {
    std::string path(key);
    while (!path.empty() && path.front() == '\\') path.erase(0, 1);
    doc["keys"].push_back(json{{"path", path}, {"values", json::array()}});
    k = &doc["keys"].back();
  }
  if (!k->contains("values") || !(*k)["values"].is_array()) (*k)["values"] = json::array();
  json entry{{"name", std::string(name)}, {"type", TypeName(value.type)}, {"data", value.data}};
  if (json* v = FindValue(*k, name)) {
    *v = std::move(entry);
  } else {
    (*k)["values"].push_back(std::move(entry));
  }

  std::string text;
  try {
    text = doc.dump(2) + "\n";
  } catch (const json::exception&) {
    throw RegistryError("value \"" + std::string(name) + "\" is not valid UTF-8 text");
  }

  std::string tmp = (dir / (tmp_prefix + "XXXXXX")).string();
  Fd out(::mkstemp(tmp.data()));
  if (out.get() < 0) throw RegistryError(SystemError("Cannot create", tmp, errno));
  auto cleanup = [&tmp] { ::unlink(tmp.c_str()); };
  try {
    if (::fchmod(out.get(), S_IRUSR | S_IWUSR) != 0) {
      throw RegistryError(SystemError("Cannot protect", tmp, errno));
    }
    WriteAll(out.get(), text, tmp);
    if (::fsync(out.get()) != 0) throw RegistryError(SystemError("Cannot flush", tmp, errno));
    if (::close(out.release()) != 0) throw RegistryError(SystemError("Cannot write", tmp, errno));
    if (before_replace_) before_replace_();
    if (unreadable) {
      fs::rename(file_, file_.string() + ".bad", ec);
    }
    if (::rename(tmp.c_str(), file_.c_str()) != 0) {
      throw RegistryError(SystemError("Cannot replace", file_, errno));
    }
  } catch (...) {
    cleanup();
    throw;
  }
  SyncDirectory(dir);
}

Registry& CurrentRegistry() {
  if (g_installed != nullptr) return *g_installed;
  static FileRegistry file_registry(FileRegistry::DefaultPath());
  return file_registry;
}

ScopedRegistry::ScopedRegistry(Registry* registry) : previous_(g_installed) {
  g_installed = registry;
}

ScopedRegistry::~ScopedRegistry() { g_installed = previous_; }

}  // namespace tarn
