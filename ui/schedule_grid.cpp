#include "ui/schedule_grid.h"

#include <algorithm>
#include <array>

#include <QHBoxLayout>
#include <QHeaderView>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>

namespace {

constexpr int column_count = 5;

/// Column widths in pixels of a 96-dpi screen.
constexpr std::array<int, column_count> column_widths{80, 153, 53, 223, 113};

QPushButton* button(const QString& caption, const QString& name) {
    auto* created = new QPushButton(caption);
    created->setObjectName(name);
    return created;
}

} // namespace

ScheduleGrid::ScheduleGrid(QWidget* parent) : QGroupBox(QStringLiteral("Plannifications"), parent) {
    setObjectName(QStringLiteral("Frame_schedules"));
    gri = new QTableWidget(1, column_count);
    gri->setObjectName(QStringLiteral("gri"));
    gri->setAccessibleName(QStringLiteral("Plannifications"));
    gri->setHorizontalHeaderLabels({QStringLiteral("Titre"), QStringLiteral("Adresse Internet"),
                                    QStringLiteral("Parcours"), QStringLiteral("Destination"),
                                    QStringLiteral("Plannification")});
    gri->verticalHeader()->hide();
    gri->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    gri->verticalHeader()->setDefaultSectionSize(gri->fontMetrics().height() + 6);
    // At least the header's own width: the desktop's font may be wider.
    for (int column = 0; column < column_count; ++column)
        gri->setColumnWidth(column, std::max(column_widths[static_cast<std::size_t>(column)],
                                             gri->horizontalHeader()->sectionSizeHint(column)));
    gri->horizontalHeader()->setStretchLastSection(true);
    gri->setEditTriggers(QAbstractItemView::NoEditTriggers);
    gri->setSelectionBehavior(QAbstractItemView::SelectRows);
    gri->setSelectionMode(QAbstractItemView::SingleSelection);
    gri->setWordWrap(false);
    // Room for several stored extractions before the grid scrolls.
    gri->setMinimumHeight(gri->horizontalHeader()->sizeHint().height() +
                          6 * gri->verticalHeader()->defaultSectionSize() + 2 * gri->frameWidth());

    Command3 = button(QStringLiteral("Supprimer"), QStringLiteral("Command3"));
    Command6 = button(QStringLiteral("Extraire maintenant !"), QStringLiteral("Command6"));
    Command4 = button(QStringLiteral("Editer"), QStringLiteral("Command4"));
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(Command3);
    buttons->addStretch();
    buttons->addWidget(Command6);
    buttons->addStretch();
    buttons->addWidget(Command4);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(gri, 1);
    layout->addLayout(buttons);
}

void ScheduleGrid::write_row(int number, const ScheduleLine& line) {
    const RowText row = row_text(line);
    for (int column = 0; column < column_count; ++column) {
        // An unknown schedule kind keeps whatever the cell showed.
        if (column == column_count - 1 && !row.schedule_known)
            continue;
        auto* item = gri->item(number - 1, column);
        const QString text = QString::fromStdString(row.cells[static_cast<std::size_t>(column)]);
        if (item)
            item->setText(text);
        else
            gri->setItem(number - 1, column, new QTableWidgetItem(text));
    }
}

void ScheduleGrid::fill(const ScheduleTable& table) {
    gri->clearContents();
    gri->setRowCount(std::max(1, table.line_count()));
    for (int number = 1; number <= table.line_count(); ++number)
        write_row(number, table.line(number));
    select_line(1);
}

void ScheduleGrid::show_line(int number, const ScheduleLine& line) {
    if (number > gri->rowCount())
        gri->setRowCount(number);
    write_row(number, line);
}

void ScheduleGrid::remove_line(int number, int line_count) {
    if (number < 1 || number > line_count)
        return;
    if (line_count == 1) {
        gri->clearContents();
        gri->setRowCount(1);
    } else {
        gri->removeRow(number - 1);
    }
}

int ScheduleGrid::selected_line(int line_count) const {
    const int number = gri->currentRow() + 1;
    return number >= 1 && number <= line_count ? number : 0;
}

void ScheduleGrid::select_line(int number) {
    if (number >= 1 && number <= gri->rowCount())
        gri->setCurrentCell(number - 1, 0);
}

QString ScheduleGrid::cell_text(int row, int column) const {
    const auto* item = gri->item(row - 1, column);
    return item ? item->text() : QString();
}

int ScheduleGrid::row_count() const {
    return gri->rowCount();
}
