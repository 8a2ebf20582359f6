#pragma once

#include <QString>
#include <QStringList>

// The links skip.txt keeps out of a run: a line names a link by its key or by its
// full form with "https://", compared trimmed (stray blanks around a link do not
// hide it) and ignoring letter case. Owned by one thread.
class TSkipList {
public:
    // Reads the file at `path` when it is there; raises ETextFileError.
    void Load(const QString& path);
    bool Contains(const QString& key) const;
    qsizetype Size() const { return FLinks.size(); }
    void Clear() { FLinks = {}; }

private:
    QStringList FLinks; // sorted by CompareTextIgnoreCase
};
