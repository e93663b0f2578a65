#pragma once
// The settings in QSettings: organisation "Corvane Software", application
// "Tarnwick" (the per-user registry key on Windows, an INI file in the user's
// configuration folder elsewhere).

#include <QSettings>
#include <memory>

#include "app/settings.h"

namespace tarnwick::qt {

class QtSettingsStore : public SettingsStore {
 public:
  // The key of the running user.
  QtSettingsStore();
  // A store in the given file (tests, other users' files).
  explicit QtSettingsStore(const QString& iniFile);

  bool open(bool create) override;
  void close() override;
  bool contains(std::string_view name) const override;
  StoredRead readInteger(std::string_view name, std::int32_t& value) const override;
  StoredRead readString(std::string_view name, std::string& value) const override;
  void writeInteger(std::string_view name, std::int32_t value) override;
  void writeString(std::string_view name, const std::string& value) override;
  void writeBinary(std::string_view name, const std::vector<std::uint8_t>& bytes) override;

  // Where the values live (a file, or the registry path).
  QString location() const;

 private:
  std::unique_ptr<QSettings> make() const;

  QString iniFile_;
  std::unique_ptr<QSettings> settings_;
};

}  // namespace tarnwick::qt
