#pragma once

#include <QGroupBox>

#include "schedule/schedule_line.h"

class QPushButton;
class QTableWidget;

/// The frame "Plannifications": the grid `gri`, whose row r shows line r of
/// the schedule (row 1 being the first row under the header), and the
/// buttons "Supprimer", "Extraire maintenant !" and "Editer". There is always
/// at least one row, blank when the schedule is empty.
class ScheduleGrid final : public QGroupBox {
    Q_OBJECT

public:
    explicit ScheduleGrid(QWidget* parent = nullptr);

    /// Shows every line of `table`, then selects row 1.
    void fill(const ScheduleTable& table);

    /// Writes line `number` (1 to line_count) into its row, adding the row
    /// when it is the new last line.
    void show_line(int number, const ScheduleLine& line);

    /// Takes out the row of line `number` of a schedule that had `line_count`
    /// lines before the removal; the last line leaves a blank row.
    void remove_line(int number, int line_count);

    /// The line whose row is selected, or 0 when no row is, or when the
    /// selected row shows no line (the blank row of an empty schedule).
    int selected_line(int line_count) const;

    /// Selects the row of line `number`.
    void select_line(int number);

    /// The text of a cell, row counted from 1 as the lines are.
    QString cell_text(int row, int column) const;
    int row_count() const;

    QTableWidget* gri = nullptr;
    QPushButton* Command3 = nullptr; ///< "Supprimer"
    QPushButton* Command6 = nullptr; ///< "Extraire maintenant !"
    QPushButton* Command4 = nullptr; ///< "Editer"

private:
    void write_row(int number, const ScheduleLine& line);
};
