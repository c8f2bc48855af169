// Per-user typed values under a key path: the program's stand-in for the
// current user's registry.
//
// FileRegistry keeps them in one file under the XDG config folder
// ($XDG_CONFIG_HOME/tarn/registry.json, else ~/.config/tarn/registry.json),
// readable and writable by its owner only. Every write replaces the whole file
// atomically (temporary file, fsync, rename), so a crash leaves either the old
// or the new content. Key paths and value names match without regard to
// ASCII case, like the registry they stand in for.
#pragma once

#include <filesystem>
#include <functional>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>

namespace tarn {

class RegistryError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

enum class RegistryType { kString, kExpandString, kMultiString, kDword, kQword, kBinary };

struct RegistryValue {
  RegistryType type = RegistryType::kString;
  std::string data;  // text for the string types, decimal for numbers, hex for binary
};

// The interface the program uses; a real registry can stand behind it.
class Registry {
 public:
  virtual ~Registry() = default;
  // nullopt when the key or the value is missing. Throws RegistryError when
  // the store cannot be read or the value is not of a string type.
  virtual std::optional<std::string> ReadString(std::string_view key, std::string_view name) = 0;
  // Creates the key if missing. Throws RegistryError; the old value then stays.
  virtual void WriteString(std::string_view key, std::string_view name, std::string_view value) = 0;
};

class FileRegistry : public Registry {
 public:
  explicit FileRegistry(std::filesystem::path file) : file_(std::move(file)) {}

  static std::filesystem::path DefaultPath();

  std::optional<std::string> ReadString(std::string_view key, std::string_view name) override;
  void WriteString(std::string_view key, std::string_view name, std::string_view value) override;

  std::optional<RegistryValue> ReadValue(std::string_view key, std::string_view name);
  void WriteValue(std::string_view key, std::string_view name, const RegistryValue& value);

  const std::filesystem::path& path() const { return file_; }

  // Runs after the new content is durable and before it replaces the old file.
  void SetBeforeReplaceHook(std::function<void()> hook) { before_replace_ = std::move(hook); }

 private:
  std::filesystem::path file_;
  std::function<void()> before_replace_;
};

// The registry the program uses: a FileRegistry at DefaultPath() unless
// another one is installed.
Registry& CurrentRegistry();

// Installs `registry` for the lifetime of the object (tests); installations nest.
class ScopedRegistry {
 public:
  explicit ScopedRegistry(Registry* registry);
  ~ScopedRegistry();
  ScopedRegistry(const ScopedRegistry&) = delete;
  ScopedRegistry& operator=(const ScopedRegistry&) = delete;

 private:
  Registry* previous_;
};

}  // namespace tarn
