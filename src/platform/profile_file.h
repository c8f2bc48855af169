// A private-profile INI file: "[Section]" header lines, then "Key=Value" lines,
// CR LF line ends. Sections and keys match without regard to case, blanks
// around keys and values are ignored, and lines the reader does not understand
// (comments, blank lines) are kept as they are when the file is written back.
//
// Writing is atomic: the new content goes to a temporary file beside the old
// one, is flushed to disk and then renamed over it, so a crash leaves either
// the old file or the new one, never a half-written one.
#pragma once

#include <QString>
#include <QStringList>

namespace tarn {

class TProfileFile {
 public:
  // Reads `path`; a missing or unreadable file reads as empty.
  explicit TProfileFile(QString path);

  const QString& Path() const { return path_; }

  // The value of `key` in `section`, or `fallback` when the key is absent.
  // A key that is present with an empty value returns the empty text.
  QString ReadString(const QString& section, const QString& key,
                     const QString& fallback = QString()) const;
  bool HasKey(const QString& section, const QString& key) const;

  // Sets `key` in memory: replaces an existing line, or appends the key to
  // its section, or appends the section at the end of the file.
  void WriteString(const QString& section, const QString& key, const QString& value);

  // Writes the file; false (with `error` set to the system's reason) when it
  // cannot be written. The old file is then left unchanged.
  bool Save(QString* error = nullptr) const;

 private:
  // Index of the section's header line, or -1.
  qsizetype FindSection(const QString& section) const;
  // Index of the key's line inside the section starting at `header`, or -1.
  qsizetype FindKey(qsizetype header, const QString& key) const;

  QString path_;
  QStringList lines_;
};

}  // namespace tarn
