#include "ui/journal_window.h"

#include <QAbstractListModel>
#include <QDateTime>
#include <QDesktopServices>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QListView>
#include <QMultiHash>
#include <QPainter>
#include <QPushButton>
#include <QScrollBar>
#include <QSplitter>
#include <QStyle>
#include <QStyledItemDelegate>
#include <QTableWidget>
#include <QUrl>
#include <QVBoxLayout>

#include "journal/journal.h"
#include "journal/run_record.h"
#include "ui/thumbnails.h"

/// The files a run wrote, each shown by its thumbnail, asked for when the
/// view paints it, and by its name.
class ImageListModel final : public QAbstractListModel {
public:
    ImageListModel(Thumbnails& thumbnails, QObject* parent) : QAbstractListModel(parent), thumbnails_(thumbnails) {
        waiting_ = QPixmap(Thumbnails::side, Thumbnails::side);
        waiting_.fill(Qt::transparent);
        placeholder_ = QPixmap(Thumbnails::side, Thumbnails::side);
        placeholder_.fill(QColor(230, 230, 230));
        QPainter frame(&placeholder_);
        frame.setPen(QColor(160, 160, 160));
        frame.drawRect(placeholder_.rect().adjusted(0, 0, -1, -1));
        connect(&thumbnails_, &Thumbnails::made, this, [this](const QString& path) {
            for (auto row = rows_.constFind(path); row != rows_.cend() && row.key() == path; ++row)
                emit dataChanged(index(*row), index(*row),
                                 {Qt::DecorationRole, Qt::ToolTipRole, Qt::AccessibleDescriptionRole});
        });
    }

    void set_files(const std::vector<std::string>& files) {
        beginResetModel();
        files_.clear();
        rows_.clear();
        for (const std::string& file : files) {
            rows_.insert(QString::fromStdString(file), int(files_.size()));
            files_ << QString::fromStdString(file);
        }
        endResetModel();
    }

    QString path(const QModelIndex& index) const { return files_.value(index.row()); }

    int rowCount(const QModelIndex& parent = {}) const override { return parent.isValid() ? 0 : int(files_.size()); }

    QVariant data(const QModelIndex& index, int role) const override {
        if (!index.isValid() || index.row() >= files_.size())
            return {};
        const QString& file = files_[index.row()];
        switch (role) {
        case Qt::DisplayRole:
            return QFileInfo(file).fileName();
        case Qt::DecorationRole: {
            const std::optional<QPixmap> picture = thumbnails_.picture(file);
            return !picture ? waiting_ : picture->isNull() ? placeholder_ : *picture;
        }
        case Qt::ToolTipRole:
        case Qt::AccessibleDescriptionRole: {
            const std::optional<QPixmap> picture = thumbnails_.picture(file);
            return picture && picture->isNull() ? QStringLiteral("%1 : image introuvable ou illisible").arg(file)
                                                : file;
        }
        default:
            return {};
        }
    }

private:
    Thumbnails& thumbnails_;
    QStringList files_;
    QMultiHash<QString, int> rows_;
    QPixmap waiting_;     ///< while the thumbnail is made
    QPixmap placeholder_; ///< a file missing or that does not decode
};

namespace {

/// Gives every thumbnail the grid's square, its picture centred in it, so
/// that the names below line up whatever the pictures' shapes.
class SquareThumbnails final : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;

protected:
    void initStyleOption(QStyleOptionViewItem* option, const QModelIndex& index) const override {
        QStyledItemDelegate::initStyleOption(option, index);
        option->decorationSize = QSize(Thumbnails::side, Thumbnails::side);
    }
};

QString local_time(std::int64_t seconds, const QString& format = QStringLiteral("dd/MM/yyyy HH:mm")) {
    return QDateTime::fromSecsSinceEpoch(seconds).toString(format);
}

/// The journal's own words, as quillmoor --journal prints them, capitalised
/// for a cell.
QString capitalised(const char* text) {
    QString shown = QString::fromUtf8(text);
    if (!shown.isEmpty())
        shown[0] = shown[0].toUpper();
    return shown;
}

QString state_text(const RunRecord& run) {
    QString text = capitalised(ending_text(run.ending));
    if (run.due)
        text += QStringLiteral(", en retard, prévue le %1")
                    .arg(local_time(*run.due, QStringLiteral("dd/MM/yyyy 'à' HH:mm")));
    return text;
}

QTableWidget* table(const QStringList& headers, const QString& name, const QString& accessible_name) {
    auto* created = new QTableWidget(0, int(headers.size()));
    created->setObjectName(name);
    created->setAccessibleName(accessible_name);
    created->setHorizontalHeaderLabels(headers);
    created->verticalHeader()->hide();
    created->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    created->verticalHeader()->setDefaultSectionSize(created->fontMetrics().height() + 6);
    created->horizontalHeader()->setStretchLastSection(true);
    created->setEditTriggers(QAbstractItemView::NoEditTriggers);
    created->setSelectionBehavior(QAbstractItemView::SelectRows);
    created->setSelectionMode(QAbstractItemView::SingleSelection);
    created->setWordWrap(false);
    return created;
}

/// A caption over `control`, which it names for assistive technology.
QWidget* captioned(const QString& caption, QWidget* control) {
    auto* panel = new QWidget;
    auto* label = new QLabel(caption);
    label->setBuddy(control);
    auto* layout = new QVBoxLayout(panel);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(label);
    layout->addWidget(control, 1);
    return panel;
}

QPushButton* button(const QString& caption, const QString& name) {
    auto* created = new QPushButton(caption);
    created->setObjectName(name);
    return created;
}

} // namespace

JournalWindow::JournalWindow(RunJournal& journal, QWidget* owner) : QWidget(owner, Qt::Window), journal_(journal) {
    setObjectName(QStringLiteral("journal"));
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowTitle(QStringLiteral("Journal"));

    runs = table({QStringLiteral("Date"), QStringLiteral("Titre"), QStringLiteral("Origine"), QStringLiteral("Pages"),
                  QStringLiteral("Copiées"), QStringLiteral("Inchangées"), QStringLiteral("En échec"),
                  QStringLiteral("État")},
                 QStringLiteral("runs"), QStringLiteral("Exécutions"));
    // Widths from the texts the columns hold: measuring a thousand rows
    // would slow the opening.
    const QFontMetrics metrics = runs->fontMetrics();
    runs->setColumnWidth(date, metrics.horizontalAdvance(QStringLiteral("00/00/0000 00:00")) + 16);
    runs->setColumnWidth(title, metrics.horizontalAdvance(QLatin1Char('M')) * 16);
    runs->setColumnWidth(origin, metrics.horizontalAdvance(QStringLiteral("Planification")) + 16);
    for (int column = pages; column < state; ++column)
        runs->setColumnWidth(column, runs->horizontalHeader()->sectionSizeHint(column));
    failures = table({QStringLiteral("Adresse"), QStringLiteral("Raison")}, QStringLiteral("failures"),
                     QStringLiteral("Adresses en échec"));
    failures->setColumnWidth(0, metrics.horizontalAdvance(QLatin1Char('M')) * 20);

    thumbnails_ = new Thumbnails(this);
    image_list_ = new ImageListModel(*thumbnails_, this);
    images = new QListView;
    images->setObjectName(QStringLiteral("images"));
    images->setAccessibleName(QStringLiteral("Images écrites"));
    images->setModel(image_list_);
    images->setItemDelegate(new SquareThumbnails(images));
    images->setViewMode(QListView::IconMode);
    images->setMovement(QListView::Static);
    images->setResizeMode(QListView::Adjust);
    images->setIconSize(QSize(Thumbnails::side, Thumbnails::side));
    images->setGridSize(QSize(Thumbnails::side + 24, Thumbnails::side + metrics.height() + 12));
    images->setTextElideMode(Qt::ElideMiddle);
    // Only the first item is measured, and only the pictures on screen are asked for.
    images->setUniformItemSizes(true);
    images->setSelectionMode(QAbstractItemView::SingleSelection);
    connect(images, &QListView::activated, this, &JournalWindow::open_image);
    // What was asked for and scrolled past is not made.
    connect(images->verticalScrollBar(), &QScrollBar::valueChanged, thumbnails_, &Thumbnails::forget_pending);

    refresh_button = button(QStringLiteral("Actualiser"), QStringLiteral("refresh_button"));
    close_button = button(QStringLiteral("Fermer"), QStringLiteral("close_button"));
    connect(refresh_button, &QPushButton::clicked, this, [this] { show_run(0); });
    connect(close_button, &QPushButton::clicked, this, &QWidget::close);
    connect(runs, &QTableWidget::currentCellChanged, this, [this](int row, int, int previous) {
        if (row != previous)
            show_selected_run();
    });

    auto* details = new QSplitter(Qt::Horizontal);
    details->addWidget(captioned(QStringLiteral("Adresses en échec :"), failures));
    details->addWidget(captioned(QStringLiteral("Images écrites :"), images));
    auto* panes = new QSplitter(Qt::Vertical);
    panes->addWidget(captioned(QStringLiteral("Exécutions :"), runs));
    panes->addWidget(details);
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(refresh_button);
    buttons->addStretch();
    buttons->addWidget(close_button);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(panes, 1);
    layout->addLayout(buttons);
    resize(940, 660);
}

std::int64_t JournalWindow::selected_run() const {
    const QTableWidgetItem* item = runs->item(runs->currentRow(), date);
    return item ? item->data(Qt::UserRole).toLongLong() : 0;
}

void JournalWindow::show_run(std::int64_t id) {
    const std::int64_t before = selected_run();
    const std::vector<RunRecord> kept = journal_.recent(RunJournal::kept_runs);
    const QIcon mark = style()->standardIcon(QStyle::SP_MessageBoxWarning);
    int selected = -1;
    int selected_before = 0;
    {
        const QSignalBlocker quiet(runs);
        runs->setRowCount(0);
        runs->setRowCount(int(kept.size()));
        for (int row = 0; row < int(kept.size()); ++row) {
            const RunRecord& run = kept[std::size_t(row)];
            const QString texts[column_count] = {local_time(run.started),
                                                 QString::fromStdString(run.title),
                                                 capitalised(origin_text(run.origin)),
                                                 QString::number(run.pages_visited),
                                                 QString::number(run.images_copied),
                                                 QString::number(run.images_unchanged),
                                                 QString::number(run.images_failed),
                                                 state_text(run)};
            for (int column = 0; column < column_count; ++column) {
                auto* item = new QTableWidgetItem(texts[column]);
                if (column >= pages && column <= failed)
                    item->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
                runs->setItem(row, column, item);
            }
            runs->item(row, date)->setData(Qt::UserRole, qlonglong(run.id));
            if (run.ending != RunEnding::completed || run.due)
                runs->item(row, state)->setIcon(mark);
            if (run.id == id)
                selected = row;
            else if (run.id == before)
                selected_before = row;
        }
        if (selected < 0)
            selected = selected_before;
        if (!kept.empty())
            runs->setCurrentCell(selected, date);
    }
    if (!kept.empty())
        runs->scrollToItem(runs->item(selected, date));
    show_selected_run();
}

void JournalWindow::show_selected_run() {
    const std::int64_t id = selected_run();
    const std::vector<RunFailure> failed = id ? journal_.failures_of(id) : std::vector<RunFailure>{};
    failures->setRowCount(int(failed.size()));
    for (int row = 0; row < int(failed.size()); ++row) {
        failures->setItem(row, 0, new QTableWidgetItem(QString::fromStdString(failed[std::size_t(row)].address)));
        failures->setItem(row, 1, new QTableWidgetItem(QString::fromStdString(failed[std::size_t(row)].reason)));
    }
    thumbnails_->forget_pending();
    image_list_->set_files(id ? journal_.files_of(id) : std::vector<std::string>{});
}

void JournalWindow::open_image(const QModelIndex& index) {
    // A file gone since would only bring the viewer's own error.
    const QString path = image_list_->path(index);
    if (QFileInfo(path).isFile())
        QDesktopServices::openUrl(QUrl::fromLocalFile(path));
}
