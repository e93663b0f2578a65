#include "app/settings.h"

#include <bit>
#include <chrono>
#include <cstring>
#include <ctime>


namespace tarnwick {
namespace {

// One value of the table: read into its target when present, with its kind.
class Reader {
 public:
  explicit Reader(SettingsStore& store) : store_(store) {}

  void integer(std::string_view name, std::int32_t& target) {
    check(name, store_.readInteger(name, target));
  }
  void boolean(std::string_view name, Window& window, ControlId box) {
    std::int32_t value = 0;
    if (check(name, store_.readInteger(name, value))) window.setChecked(box, value != 0);
  }
  void text(std::string_view name, Window& window, ControlId box) {
    std::string value;
    if (check(name, store_.readString(name, value))) window.setText(box, value);
  }
  void text(std::string_view name, std::string& target) { check(name, store_.readString(name, target)); }

 private:
  bool check(std::string_view name, StoredRead read) {
    if (read == StoredRead::WrongKind) throw SettingsError("Invalid data type for '" + std::string(name) + "'");
    return read == StoredRead::Ok;
  }
  SettingsStore& store_;
};

// Closes the key however the read or write ends.
class OpenKey {
 public:
  OpenKey(SettingsStore& store, bool create) : store_(store), open_(store.open(create)) {}
  ~OpenKey() {
    if (open_) store_.close();
  }
  OpenKey(const OpenKey&) = delete;
  OpenKey& operator=(const OpenKey&) = delete;
  explicit operator bool() const { return open_; }

 private:
  SettingsStore& store_;
  bool open_;
};

}  // namespace

void RegRead(SettingsStore& store, Window& window, FileSelection& files, Placement& placement) {
  OpenKey key(store, false);
  if (!key) return;
  // Size before position and the state last, so that a maximized window
  // first gets its normal placement.
  Reader r(store);
  r.integer("Width", placement.Width);
  r.integer("Height", placement.Height);
  r.integer("Top", placement.Top);
  r.integer("Left", placement.Left);
  r.integer("WindowState", placement.WindowState);
  r.integer("TreeWidth", placement.TreeWidth);
  r.text("AudioExt", window, ControlId::eAudioExt);
  r.text("VideoExt", window, ControlId::eVideoExt);
  r.text("SubExt", window, ControlId::eSubExt);
  r.text("Workdir", window, ControlId::eWorkdir);
  r.text("Mkvmerge", window, ControlId::eMkvmerge);
  r.text("EVOdir", files.EvoFolder);
  r.text("XPLdir", files.XplFolder);
  r.boolean("Continue", window, ControlId::cbContinue);
  r.boolean("FastCheck", window, ControlId::cbFastCheck);
  r.boolean("CountFrames", window, ControlId::cbCountFr);
  r.boolean("Details", window, ControlId::cbDetails);
  r.boolean("Pgs", window, ControlId::cbPgs);
  r.text("Discdir", files.DiscFolder);
}

void RegWrite(SettingsStore& store, const Window& window, const FileSelection& files, const Placement& placement,
              double now) {
  OpenKey key(store, true);
  if (!key) return;
  store.writeInteger("WindowState", placement.WindowState);
  // A maximized window keeps the normal placement saved before.
  if (placement.WindowState != Placement::kMaximized) {
    store.writeInteger("Top", placement.Top);
    store.writeInteger("Left", placement.Left);
    store.writeInteger("Width", placement.Width);
    store.writeInteger("Height", placement.Height);
  }
  store.writeInteger("TreeWidth", placement.TreeWidth);
  store.writeString("AudioExt", window.text(ControlId::eAudioExt));
  store.writeString("VideoExt", window.text(ControlId::eVideoExt));
  store.writeString("SubExt", window.text(ControlId::eSubExt));
  store.writeString("Workdir", window.text(ControlId::eWorkdir));
  store.writeString("Mkvmerge", window.text(ControlId::eMkvmerge));
  store.writeString("EVOdir", files.EvoFolder);
  store.writeString("XPLdir", files.XplFolder);
  store.writeInteger("Continue", window.checked(ControlId::cbContinue) ? 1 : 0);
  store.writeInteger("FastCheck", window.checked(ControlId::cbFastCheck) ? 1 : 0);
  store.writeInteger("CountFrames", window.checked(ControlId::cbCountFr) ? 1 : 0);
  store.writeInteger("Details", window.checked(ControlId::cbDetails) ? 1 : 0);
  store.writeInteger("Pgs", window.checked(ControlId::cbPgs) ? 1 : 0);
  // When the program first saved its settings: written once, never read.
  if (!store.contains("Install")) {
    std::vector<std::uint8_t> bytes(sizeof now);
    // The double's own bytes, little-endian as the registry keeps them.
    std::uint64_t bits = std::bit_cast<std::uint64_t>(now);
    for (auto& byte : bytes) {
      byte = static_cast<std::uint8_t>(bits & 0xFF);
      bits >>= 8;
    }
    store.writeBinary("Install", bytes);
  }
  // Written once a disc has been opened: the keys before stay as they were.
  if (!files.DiscFolder.empty()) store.writeString("Discdir", files.DiscFolder);
}

double localDateTimeNow() {
  const auto now = std::chrono::system_clock::now();
  const std::time_t t = std::chrono::system_clock::to_time_t(now);
  std::tm local{};
#ifdef _WIN32
  localtime_s(&local, &t);
#else
  localtime_r(&t, &local);
#endif
  const std::chrono::year_month_day date{std::chrono::year(local.tm_year + 1900),
                                         std::chrono::month(static_cast<unsigned>(local.tm_mon + 1)),
                                         std::chrono::day(static_cast<unsigned>(local.tm_mday))};
  constexpr std::chrono::sys_days kEpoch{std::chrono::year(1899) / 12 / 30};
  const double days = static_cast<double>((std::chrono::sys_days(date) - kEpoch).count());
  const double seconds = local.tm_hour * 3600.0 + local.tm_min * 60.0 + local.tm_sec;
  return days + seconds / 86400.0;
}

bool MemorySettingsStore::open(bool create) {
  if (!exists_ && !create) return false;
  exists_ = true;
  isOpen_ = true;
  return true;
}

bool MemorySettingsStore::contains(std::string_view name) const { return values_.find(name) != values_.end(); }

StoredRead MemorySettingsStore::readInteger(std::string_view name, std::int32_t& value) const {
  const auto it = values_.find(name);
  if (it == values_.end()) return StoredRead::Absent;
  const auto* stored = std::get_if<std::int32_t>(&it->second);
  if (stored == nullptr) return StoredRead::WrongKind;
  value = *stored;
  return StoredRead::Ok;
}

StoredRead MemorySettingsStore::readString(std::string_view name, std::string& value) const {
  const auto it = values_.find(name);
  if (it == values_.end()) return StoredRead::Absent;
  const auto* stored = std::get_if<std::string>(&it->second);
  if (stored == nullptr) return StoredRead::WrongKind;
  value = *stored;
  return StoredRead::Ok;
}

void MemorySettingsStore::writeInteger(std::string_view name, std::int32_t value) { put(name, value); }
void MemorySettingsStore::writeString(std::string_view name, const std::string& value) { put(name, value); }
void MemorySettingsStore::writeBinary(std::string_view name, const std::vector<std::uint8_t>& bytes) {
  put(name, bytes);
}

void MemorySettingsStore::set(const std::string& name, Value value) {
  exists_ = true;
  values_[name] = std::move(value);
}

void MemorySettingsStore::put(std::string_view name, Value value) {
  writes_.emplace_back(name);
  values_.insert_or_assign(std::string(name), std::move(value));
}

}  // namespace tarnwick
