#pragma once

#include <QComboBox>
#include <QListWidget>
#include <QStringList>

namespace velda {

// A drive list: the mounted volumes (drive letters where there are any).
// A volume that cannot be read is left out, so choosing one never fails.
class DriveList : public QComboBox {
    Q_OBJECT
  public:
    explicit DriveList(QWidget* parent = nullptr);
    // The drive (mount point) that holds path.
    QString DriveOf(const QString& path) const;
    // Shows the drive that holds path, without announcing a change.
    void ShowDriveOf(const QString& path);
    QString drive() const { return currentData().toString(); }

  signals:
    void driveChosen(const QString& root);
};

// A directory list: the parent entry and the folders of the current
// folder; activating one moves into it.
class DirectoryList : public QListWidget {
    Q_OBJECT
  public:
    explicit DirectoryList(QWidget* parent = nullptr);
    QString path() const { return path_; }
    // Moves to path when it is a folder that can be read; false otherwise.
    bool setPath(const QString& path);

  signals:
    void pathChanged(const QString& path);

  private:
    QString path_;
};

// A file list: the files of a folder whose names match any of the patterns
// ("*.JPG;*.GIF"), in any letter case, hidden files left out.
class FileListBox : public QListWidget {
    Q_OBJECT
  public:
    explicit FileListBox(QWidget* parent = nullptr);
    QString path() const { return path_; }
    void setPath(const QString& path);
    QString pattern() const { return pattern_; }
    void setPattern(const QString& pattern);
    void Refresh();
    // The names of the selected entries, in list order.
    QStringList SelectedNames() const;

  private:
    QString path_;
    QString pattern_;
};

}  // namespace velda
