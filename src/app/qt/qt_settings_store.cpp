#include "app/qt/qt_settings_store.h"

#include <QFileInfo>
#include <limits>

namespace tarnwick::qt {
namespace {

QString key(std::string_view name) { return QString::fromUtf8(name.data(), static_cast<qsizetype>(name.size())); }

}  // namespace

QtSettingsStore::QtSettingsStore() = default;

QtSettingsStore::QtSettingsStore(const QString& iniFile) : iniFile_(iniFile) {}

std::unique_ptr<QSettings> QtSettingsStore::make() const {
  if (!iniFile_.isEmpty()) return std::make_unique<QSettings>(iniFile_, QSettings::IniFormat);
#ifdef Q_OS_WIN
  return std::make_unique<QSettings>(QSettings::NativeFormat, QSettings::UserScope, "Corvane Software", "Tarnwick");
#else
  return std::make_unique<QSettings>(QSettings::IniFormat, QSettings::UserScope, "Corvane Software", "Tarnwick");
#endif
}

QString QtSettingsStore::location() const { return make()->fileName(); }

bool QtSettingsStore::open(bool create) {
  settings_ = make();
  if (settings_->status() == QSettings::AccessError) {
    settings_.reset();
    return false;
  }
  // Reading never creates the key: no values, no key.
  if (!create && settings_->allKeys().isEmpty()) {
    settings_.reset();
    return false;
  }
  return true;
}

void QtSettingsStore::close() {
  if (settings_) settings_->sync();
  settings_.reset();
}

bool QtSettingsStore::contains(std::string_view name) const { return settings_ && settings_->contains(key(name)); }

// An INI file keeps every value as text: an integer is text that reads as
// one 32-bit number, a string any text; a byte array or a list is neither.
// The registry keeps kinds, and a string is never an integer there.
StoredRead QtSettingsStore::readInteger(std::string_view name, std::int32_t& value) const {
  if (!contains(name)) return StoredRead::Absent;
  const QVariant v = settings_->value(key(name));
  bool ok = false;
  qlonglong n = 0;
  if (v.typeId() == QMetaType::QString && settings_->format() == QSettings::IniFormat) {
    n = v.toString().trimmed().toLongLong(&ok);
  } else if (v.typeId() == QMetaType::Int || v.typeId() == QMetaType::LongLong || v.typeId() == QMetaType::UInt) {
    n = v.toLongLong(&ok);
  }
  if (!ok || n < std::numeric_limits<std::int32_t>::min() || n > std::numeric_limits<std::int32_t>::max())
    return StoredRead::WrongKind;
  value = static_cast<std::int32_t>(n);
  return StoredRead::Ok;
}

StoredRead QtSettingsStore::readString(std::string_view name, std::string& value) const {
  if (!contains(name)) return StoredRead::Absent;
  const QVariant v = settings_->value(key(name));
  if (v.typeId() != QMetaType::QString) return StoredRead::WrongKind;
  value = v.toString().toStdString();
  return StoredRead::Ok;
}

void QtSettingsStore::writeInteger(std::string_view name, std::int32_t value) {
  if (settings_) settings_->setValue(key(name), value);
}

void QtSettingsStore::writeString(std::string_view name, const std::string& value) {
  if (settings_) settings_->setValue(key(name), QString::fromStdString(value));
}

void QtSettingsStore::writeBinary(std::string_view name, const std::vector<std::uint8_t>& bytes) {
  if (settings_)
    settings_->setValue(key(name), QByteArray(reinterpret_cast<const char*>(bytes.data()), static_cast<qsizetype>(bytes.size())));
}

}  // namespace tarnwick::qt
