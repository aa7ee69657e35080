#pragma once

#include <QString>
#include <QTreeWidget>

/// The directory list: the open folder with its parent folders above it and
/// its subfolders below. Activating a folder (double click, Enter) opens it.
class DirectoryList final : public QTreeWidget {
    Q_OBJECT

public:
    explicit DirectoryList(QWidget* parent = nullptr);

    /// The folder that the list has open.
    const QString& path() const { return path_; }

    /// Opens `path`. A folder that is missing or cannot be read is still
    /// opened, with no subfolders, so that a stored destination is never
    /// silently replaced by another one.
    void set_path(const QString& path);

signals:
    /// The open folder changed, by the user or by set_path.
    void path_changed(const QString& path);

private:
    void show_folder();
    QTreeWidgetItem* add_item(QTreeWidgetItem* parent, const QString& name, const QString& full_path, bool open);

    QString path_;
};
