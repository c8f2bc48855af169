#include "platform/profile_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QByteArray>
#include <QFile>
#include <QFileInfo>
#include <cerrno>
#include <cstring>
#include <utility>

namespace tarn {
namespace {

bool IsSectionHeader(const QString& line, QString* name) {
  const QString trimmed = line.trimmed();
  if (!trimmed.startsWith(QLatin1Char('['))) return false;
  const qsizetype close = trimmed.indexOf(QLatin1Char(']'));
  if (close < 0) return false;
  if (name) *name = trimmed.mid(1, close - 1).trimmed();
  return true;
}

// Splits "key = value"; false for lines without an equals sign.
bool SplitKeyLine(const QString& line, QString* key, QString* value) {
  const qsizetype eq = line.indexOf(QLatin1Char('='));
  if (eq < 0) return false;
  *key = line.left(eq).trimmed();
  QString v = line.mid(eq + 1).trimmed();
  // Like the platform's reader, one pair of enclosing quotes is dropped.
  if (v.size() >= 2 && ((v.front() == QLatin1Char('"') && v.back() == QLatin1Char('"')) ||
                        (v.front() == QLatin1Char('\'') && v.back() == QLatin1Char('\'')))) {
    v = v.mid(1, v.size() - 2);
  }
  *value = v;
  return true;
}

QString ErrnoText() { return QString::fromLocal8Bit(std::strerror(errno)); }

bool WriteAll(int fd, const QByteArray& bytes) {
  const char* p = bytes.constData();
  qsizetype left = bytes.size();
  while (left > 0) {
    const ssize_t n = ::write(fd, p, static_cast<size_t>(left));
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    p += n;
    left -= n;
  }
  return true;
}

}  // namespace

TProfileFile::TProfileFile(QString path) : path_(std::move(path)) {
  QFile file(path_);
  if (!file.open(QIODevice::ReadOnly)) return;
  QString text = QString::fromUtf8(file.readAll());
  text.replace(QLatin1String("\r\n"), QLatin1String("\n"));
  lines_ = text.split(QLatin1Char('\n'));
  if (!lines_.isEmpty() && lines_.back().isEmpty()) lines_.removeLast();
}

qsizetype TProfileFile::FindSection(const QString& section) const {
  QString name;
  for (qsizetype i = 0; i < lines_.size(); ++i) {
    if (IsSectionHeader(lines_[i], &name) && name.compare(section, Qt::CaseInsensitive) == 0)
      return i;
  }
  return -1;
}

qsizetype TProfileFile::FindKey(qsizetype header, const QString& key) const {
  QString k, v;
  for (qsizetype i = header + 1; i < lines_.size(); ++i) {
    if (IsSectionHeader(lines_[i], nullptr)) break;
    if (SplitKeyLine(lines_[i], &k, &v) && k.compare(key, Qt::CaseInsensitive) == 0) return i;
  }
  return -1;
}

bool TProfileFile::HasKey(const QString& section, const QString& key) const {
  const qsizetype header = FindSection(section);
  return header >= 0 && FindKey(header, key) >= 0;
}

QString TProfileFile::ReadString(const QString& section, const QString& key,
                                 const QString& fallback) const {
  const qsizetype header = FindSection(section);
  if (header < 0) return fallback;
  const qsizetype at = FindKey(header, key);
  if (at < 0) return fallback;
  QString k, v;
  SplitKeyLine(lines_[at], &k, &v);
  return v;
}

void TProfileFile::WriteString(const QString& section, const QString& key, const QString& value) {
  const QString line = key + QLatin1Char('=') + value;
  const qsizetype header = FindSection(section);
  if (header < 0) {
    lines_.append(QLatin1Char('[') + section + QLatin1Char(']'));
    lines_.append(line);
    return;
  }
  const qsizetype at = FindKey(header, key);
  if (at >= 0) {
    lines_[at] = line;
    return;
  }
  // After the section's last key line, before any trailing blank lines.
  qsizetype end = header + 1;
  while (end < lines_.size() && !IsSectionHeader(lines_[end], nullptr)) ++end;
  qsizetype insert_at = end;
  while (insert_at > header + 1 && lines_[insert_at - 1].trimmed().isEmpty()) --insert_at;
  lines_.insert(insert_at, line);
}

bool TProfileFile::Save(QString* error) const {
  auto fail = [&](const QString& reason) {
    if (error) *error = reason;
    return false;
  };
  const QByteArray target = QFile::encodeName(path_);
  // A read-only file stays as it is even where the folder would allow a rename.
  if (::access(target.constData(), F_OK) == 0 && ::access(target.constData(), W_OK) != 0)
    return fail(ErrnoText());

  QByteArray bytes;
  for (const QString& line : lines_) {
    bytes += line.toUtf8();
    bytes += "\r\n";
  }
  QByteArray temp = target + ".XXXXXX";
  const int fd = ::mkstemp(temp.data());
  if (fd < 0) return fail(ErrnoText());
  struct stat st;
  const mode_t mode = ::stat(target.constData(), &st) == 0 ? (st.st_mode & 07777) : 0644;
  bool ok = ::fchmod(fd, mode) == 0 && WriteAll(fd, bytes) && ::fsync(fd) == 0;
  QString reason = ok ? QString() : ErrnoText();
  if (::close(fd) != 0 && ok) {
    ok = false;
    reason = ErrnoText();
  }
  if (ok && ::rename(temp.constData(), target.constData()) != 0) {
    ok = false;
    reason = ErrnoText();
  }
  if (!ok) {
    ::unlink(temp.constData());
    return fail(reason);
  }
  // Make the rename itself durable.
  const QByteArray folder = QFile::encodeName(QFileInfo(path_).absolutePath());
  const int dir_fd = ::open(folder.constData(), O_RDONLY | O_DIRECTORY);
  if (dir_fd >= 0) {
    ::fsync(dir_fd);
    ::close(dir_fd);
  }
  return true;
}

}  // namespace tarn
