#pragma once

#include <QString>
#include <memory>

class QFile;

namespace rava::image {

// The two files a reception writes, kept after it ends.
inline const char* const kReceivedName = "tempkelto100275.bmp"; // every data byte
inline const char* const kStrippedName = "tempkelto250881.bmp"; // master: without addresses

// The folder of the two files, private to the user: RAVA2_TEMP_DIR when it
// is set, else "rava2-demo-<user>" in the system's temporary folder. Made
// with mode 0700 when missing (the default folder is also brought back to
// 0700). Refused, with a sentence for the user in `error`, when it is a
// symbolic link, not a folder, not owned by the user, or (a folder named in
// RAVA2_TEMP_DIR) writable by its group or by others. Empty on refusal.
QString privateTempDir(QString* error);

// Opens `name` in `dir` for reading and writing, emptied, created with mode
// 0600 when missing. A symbolic link or a file of another owner is refused
// (nullptr, with the reason in `error`); the link is never followed.
std::unique_ptr<QFile> openTempFile(const QString& dir, const QString& name, QString* error);

} // namespace rava::image
