#pragma once

#include <cstdint>

#include <QWidget>

class ImageListModel;
class QListView;
class QModelIndex;
class QPushButton;
class QTableWidget;
class RunJournal;
class Thumbnails;

/// The window "Journal": the runs that the journal keeps, newest first, with
/// their counts and a mark for those that did not end well or came late; for
/// the run selected, the addresses that failed and why, and the images it
/// wrote as thumbnails, which a double click opens in the desktop's viewer.
/// It shows the journal as it was when last read: "Actualiser" reads it again.
class JournalWindow final : public QWidget {
    Q_OBJECT

public:
    /// The columns of `runs`, left to right.
    enum Column { date, title, origin, pages, copied, unchanged, failed, state, column_count };

    /// A window of its own over `owner`, deleted when it is closed.
    JournalWindow(RunJournal& journal, QWidget* owner);

    /// Reads the runs afresh and selects run `id`; for 0, or a run the journal
    /// no longer keeps, the run selected before, else the newest.
    void show_run(std::int64_t id);
    /// The run selected; 0 when there is none.
    std::int64_t selected_run() const;
    Thumbnails* thumbnails() const { return thumbnails_; }

    QTableWidget* runs = nullptr;
    QTableWidget* failures = nullptr;      ///< of the run selected: address, reason
    QListView* images = nullptr;           ///< the images the run selected wrote
    QPushButton* refresh_button = nullptr; ///< "Actualiser"
    QPushButton* close_button = nullptr;   ///< "Fermer"

private:
    void show_selected_run();
    void open_image(const QModelIndex& index);

    RunJournal& journal_;
    Thumbnails* thumbnails_ = nullptr;
    ImageListModel* image_list_ = nullptr;
};
