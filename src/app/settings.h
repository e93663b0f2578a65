#pragma once
// The per-user settings: the window's placement, the options, the tree's
// width and the last folders of the two file dialogs, kept between runs under
// one key of named values. RegRead and RegWrite know the names, kinds and
// order; a SettingsStore knows where the values live (QSettings in the
// window, MemorySettingsStore in tests).

#include <cstdint>
#include <map>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "app/file_selection.h"
#include "app/window.h"

namespace tarnwick {

// A value read from a store: absent, present with the asked kind, or present
// with another kind.
enum class StoredRead { Absent, Ok, WrongKind };

class SettingsStore {
 public:
  virtual ~SettingsStore() = default;
  // Opens the key; false when it is missing (and create is false) or cannot
  // be reached. close() ends what open() began.
  virtual bool open(bool create) = 0;
  virtual void close() = 0;
  virtual bool contains(std::string_view name) const = 0;
  virtual StoredRead readInteger(std::string_view name, std::int32_t& value) const = 0;
  virtual StoredRead readString(std::string_view name, std::string& value) const = 0;
  virtual void writeInteger(std::string_view name, std::int32_t value) = 0;
  virtual void writeString(std::string_view name, const std::string& value) = 0;
  virtual void writeBinary(std::string_view name, const std::vector<std::uint8_t>& bytes) = 0;
};

// "Invalid data type for 'NAME'"
class SettingsError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// The window's state and placement as the settings hold them.
struct Placement {
  static constexpr std::int32_t kNormal = 0;
  static constexpr std::int32_t kMinimized = 1;
  static constexpr std::int32_t kMaximized = 2;

  std::int32_t WindowState = kNormal;
  std::int32_t Top = 0;
  std::int32_t Left = 0;
  std::int32_t Width = 0;   // outer size
  std::int32_t Height = 0;
  std::int32_t TreeWidth = 96;

  bool operator==(const Placement&) const = default;
};

// The front end's side of the settings: its store and the window's placement.
class SettingsHost {
 public:
  virtual ~SettingsHost() = default;
  virtual SettingsStore& store() = 0;
  virtual Placement placement() const = 0;
  virtual void setPlacement(const Placement& placement) = 0;
};

// Loads every value that exists into the window, the folders and placement.
// A missing key changes nothing. At a value of the wrong kind it throws
// SettingsError; the values read before it stay applied.
void RegRead(SettingsStore& store, Window& window, FileSelection& files, Placement& placement);

// Saves every value; the placement only when the window is not maximized,
// "Install" (now, in days since 30 December 1899) only when it is absent.
void RegWrite(SettingsStore& store, const Window& window, const FileSelection& files, const Placement& placement,
              double now);

// The local date and time as days since 30 December 1899, the time of day as
// the fraction.
double localDateTimeNow();

// The values in memory, with their kinds: the store of the tests.
class MemorySettingsStore : public SettingsStore {
 public:
  using Value = std::variant<std::int32_t, std::string, std::vector<std::uint8_t>>;

  bool open(bool create) override;
  void close() override { isOpen_ = false; }
  bool contains(std::string_view name) const override;
  StoredRead readInteger(std::string_view name, std::int32_t& value) const override;
  StoredRead readString(std::string_view name, std::string& value) const override;
  void writeInteger(std::string_view name, std::int32_t value) override;
  void writeString(std::string_view name, const std::string& value) override;
  void writeBinary(std::string_view name, const std::vector<std::uint8_t>& bytes) override;

  bool exists() const { return exists_; }
  bool isOpen() const { return isOpen_; }
  // Every name written, in the order of the writes.
  const std::vector<std::string>& writes() const { return writes_; }
  const std::map<std::string, Value, std::less<>>& values() const { return values_; }
  void set(const std::string& name, Value value);

 private:
  void put(std::string_view name, Value value);

  std::map<std::string, Value, std::less<>> values_;
  std::vector<std::string> writes_;
  bool exists_ = false;
  bool isOpen_ = false;
};

}  // namespace tarnwick
