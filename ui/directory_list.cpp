#include "ui/directory_list.h"

#include <QDir>
#include <QHeaderView>
#include <QStyle>

DirectoryList::DirectoryList(QWidget* parent) : QTreeWidget(parent) {
    setHeaderHidden(true);
    setColumnCount(1);
    setRootIsDecorated(false);
    setItemsExpandable(false);
    setIndentation(12);
    setUniformRowHeights(true);
    setSelectionMode(QAbstractItemView::SingleSelection);
    connect(this, &QTreeWidget::itemActivated, this, [this](QTreeWidgetItem* item) {
        if (item)
            set_path(item->data(0, Qt::UserRole).toString());
    });
}

void DirectoryList::set_path(const QString& path) {
    // A path from elsewhere (a schedule written on Windows) is kept as typed.
    const QString opened = path.startsWith(u'/') ? QDir::cleanPath(path) : path;
    if (opened == path_ && topLevelItemCount() > 0)
        return;
    path_ = opened;
    show_folder();
    emit path_changed(path_);
}

QTreeWidgetItem* DirectoryList::add_item(QTreeWidgetItem* parent, const QString& name, const QString& full_path,
                                         bool open) {
    auto* item = parent ? new QTreeWidgetItem(parent) : new QTreeWidgetItem(this);
    item->setText(0, name);
    item->setData(0, Qt::UserRole, full_path);
    item->setIcon(0, style()->standardIcon(open ? QStyle::SP_DirOpenIcon : QStyle::SP_DirClosedIcon));
    return item;
}

void DirectoryList::show_folder() {
    clear();
    if (!path_.startsWith(u'/')) {
        setCurrentItem(add_item(nullptr, path_, path_, true));
        return;
    }

    // The chain of open folders from the root down to the open one.
    QTreeWidgetItem* current = add_item(nullptr, QStringLiteral("/"), QStringLiteral("/"), true);
    QString so_far;
    for (const QString& part : path_.split(u'/', Qt::SkipEmptyParts)) {
        so_far += u'/' + part;
        current = add_item(current, part, so_far, true);
    }

    // A folder that cannot be read lists nothing; hidden folders are left out.
    const QDir folder(path_);
    const QStringList names =
        folder.entryList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name | QDir::IgnoreCase | QDir::LocaleAware);
    const QString prefix = path_ == u'/' ? path_ : path_ + u'/';
    for (const QString& name : names)
        add_item(current, name, prefix + name, false);

    expandAll();
    setCurrentItem(current);
    scrollToItem(current);
}
