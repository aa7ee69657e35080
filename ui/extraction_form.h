#pragma once

#include <array>

#include <QString>
#include <QStringList>
#include <QWidget>

#include "engine/extraction_job.h"
#include "schedule/schedule_file.h"
#include "schedule/schedule_line.h"
#include "ui/volumes.h"

class DirectoryList;
class FocusChecks;
class Prompter;
class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QProxyStyle;
class QPushButton;
class QRadioButton;

/// The upper part of the main window: the form that describes one extraction,
/// "Plannifier" and the status line. The current extraction is what the
/// controls show: every option or list choice, by the user or the program,
/// is the field's new value at once.
class ExtractionForm final : public QWidget {
    Q_OBJECT

public:
    /// The most characters (UTF-16 units) a text box takes from the user.
    /// Each is at most three bytes once stored, so that whatever is typed or
    /// pasted fits in a field of planifs.txt.
    static constexpr int longest_typed_text = static_cast<int>(max_field_length / 3);

    /// `volumes` fills the drive list; the directory list opens `start_folder`.
    ExtractionForm(const VolumeSource& volumes, const QString& start_folder, Prompter& prompter,
                   QWidget* parent = nullptr);
    ~ExtractionForm() override;

    /// The extraction that the form describes: credentials and name patterns
    /// trimmed, the destination as the directory list has it open.
    ExtractionJob current_job() const;
    int schedule_kind() const;
    int interval_index() const;
    int day_interval_index() const;

    /// The line that "Plannifier" stores: every field but the last run's date
    /// and time (field::last_run_date, field::last_run_time), which stay empty.
    ScheduleLine line() const;

    /// Puts every control back to its default (the directory list stays where
    /// it is) and so every field of the current extraction.
    void reset();

    /// Shows a stored line. A number outside its list (a damaged or foreign
    /// line) takes the default; a destination or drive that does not exist
    /// is kept as stored, and so is a text longer than a box lets a user type.
    void load(const ScheduleLine& line);

    /// Why the form cannot be stored as it is: a text holding a control
    /// character (a pasted line break would split the stored line). Empty
    /// when there is none.
    QString control_character_refusal() const;

    /// True when `address` begins with "http://" or "https://", exactly.
    static bool is_web_address(const QString& address);

    /// Offers in the extension lists every image format, or only the first
    /// four; what each list shows stays shown.
    void set_all_image_formats(bool all_image_formats);

    /// Runs the check of a box that the user has just left, if it has not run
    /// yet. False when it found a fault: the focus is then back in that box.
    bool settle_checks();

    /// Puts the focus in `box` without running the check of the box it leaves.
    static void focus_quietly(QWidget* box);

    // The controls, under the names of the form's description.
    QLineEdit* Text1 = nullptr;
    QLineEdit* Text2 = nullptr;
    std::array<QRadioButton*, 2> Option3{};
    QComboBox* Combo1 = nullptr;
    QLineEdit* Text5 = nullptr;
    QLineEdit* Text6 = nullptr;
    std::array<QRadioButton*, 3> Option1{};
    QComboBox* Drive1 = nullptr;
    DirectoryList* Dir1 = nullptr;
    std::array<QRadioButton*, 2> Option2{};
    std::array<QLineEdit*, 4> Text3{};
    std::array<QComboBox*, 4> Combo3{};
    std::array<QLineEdit*, 4> Text4{};
    std::array<QComboBox*, 4> Combo4{};
    std::array<QRadioButton*, 3> Option4{};
    QComboBox* Combo2 = nullptr;
    QComboBox* Combo5 = nullptr;
    QComboBox* Combo6 = nullptr;
    QComboBox* Combo7 = nullptr;
    std::array<QCheckBox*, 7> Check1{};
    QPushButton* Command2 = nullptr;
    QLabel* Label4 = nullptr;

    /// The form's controls in focus order, "Plannifier" last.
    QList<QWidget*> focus_chain() const;
    /// The twelve text boxes: title, address, credentials, then the patterns.
    QList<QLineEdit*> text_boxes() const;

private:
    void build_controls();
    void build_layout();
    void set_accessible_names();
    void connect_directory_lists();
    void watch_boxes();
    void open_drive(int index);
    void show_drive_of(const QString& folder);
    void fill_extension_list(QComboBox* list, const std::string& shown);

    std::vector<std::string> volumes_;
    QProxyStyle* star_password_style_ = nullptr;
    FocusChecks* focus_checks_ = nullptr;
    bool all_image_formats_ = false;
};
