#include "ui/file_lists.h"

#include <QDir>
#include <QFileInfo>
#include <QStorageInfo>

namespace velda {

DriveList::DriveList(QWidget* parent) : QComboBox(parent) {
    QStringList roots;
    for (const QStorageInfo& volume : QStorageInfo::mountedVolumes()) {
        if (!volume.isValid() || !volume.isReady()) continue;
        if (!QFileInfo(volume.rootPath()).isReadable()) continue;
        roots.append(volume.rootPath());
    }
    roots.removeDuplicates();
    std::sort(roots.begin(), roots.end());
    for (const QString& r : roots)
        addItem(QDir::toNativeSeparators(r), r);
    connect(this, &QComboBox::activated, this, [this](int index) {
        const QString root = itemData(index).toString();
        if (QFileInfo(root).isReadable()) emit driveChosen(root);
    });
}

QString DriveList::DriveOf(const QString& path) const {
    QString best;
    const QString clean = QDir::cleanPath(QFileInfo(path).absoluteFilePath());
    for (int i = 0; i < count(); ++i) {
        const QString root = itemData(i).toString();
        const bool inside =
            clean == root || clean.startsWith(root.endsWith(u'/') ? root : root + u'/');
        if (inside && root.size() > best.size()) best = root;
    }
    return best;
}

void DriveList::ShowDriveOf(const QString& path) {
    const int i = findData(DriveOf(path));
    if (i >= 0) {
        const QSignalBlocker quiet(this);
        setCurrentIndex(i);
    }
}

namespace {

// Long names are shown whole: the list scrolls sideways rather than cutting
// them, and each item's tip holds its full path.
void ShowNamesWhole(QListWidget* list) {
    list->setTextElideMode(Qt::ElideNone);
    list->setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    list->setHorizontalScrollMode(QAbstractItemView::ScrollPerPixel);
}

}  // namespace

DirectoryList::DirectoryList(QWidget* parent) : QListWidget(parent) {
    ShowNamesWhole(this);
    connect(this, &QListWidget::itemActivated, this,
            [this](QListWidgetItem* item) { setPath(item->data(Qt::UserRole).toString()); });
}

bool DirectoryList::setPath(const QString& path) {
    const QFileInfo info(path);
    if (path.isEmpty() || !info.isDir() || !info.isReadable()) return false;
    path_ = QDir::cleanPath(info.absoluteFilePath());
    clear();
    // The folder itself heads the list, as its path, so the user sees where
    // the list stands.
    auto* here = new QListWidgetItem(QDir::toNativeSeparators(path_), this);
    here->setData(Qt::UserRole, path_);
    here->setToolTip(QDir::toNativeSeparators(path_));
    QFont bold = font();
    bold.setBold(true);
    here->setFont(bold);
    QDir dir(path_);
    if (!dir.isRoot()) {
        auto* up = new QListWidgetItem(QStringLiteral(".."), this);
        up->setData(Qt::UserRole, QDir::cleanPath(path_ + QStringLiteral("/..")));
    }
    for (const QString& name :
         dir.entryList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name | QDir::IgnoreCase)) {
        auto* item = new QListWidgetItem(name, this);
        item->setData(Qt::UserRole, dir.filePath(name));
        item->setToolTip(QDir::toNativeSeparators(dir.filePath(name)));
    }
    emit pathChanged(path_);
    return true;
}

FileListBox::FileListBox(QWidget* parent) : QListWidget(parent) {
    ShowNamesWhole(this);
}

void FileListBox::setPath(const QString& path) {
    path_ = path;
    Refresh();
}

void FileListBox::setPattern(const QString& pattern) {
    pattern_ = pattern;
    Refresh();
}

void FileListBox::Refresh() {
    clear();
    if (path_.isEmpty()) return;
    QDir dir(path_);
    dir.setNameFilters(pattern_.split(u';', Qt::SkipEmptyParts));
    dir.setFilter(QDir::Files);  // hidden and system files are not listed
    dir.setSorting(QDir::Name | QDir::IgnoreCase);
    // Name filters match without regard to case.
    addItems(dir.entryList());
}

QStringList FileListBox::SelectedNames() const {
    QStringList names;
    for (int i = 0; i < count(); ++i) {
        if (item(i)->isSelected()) names.append(item(i)->text());
    }
    return names;
}

}  // namespace velda
