#include "ui/extraction_form.h"

#include <algorithm>

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QProxyStyle>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalBlocker>

#include "net/text.h"
#include "schedule/job_from_line.h"
#include "store/file_name_filter.h"
#include "ui/directory_list.h"
#include "ui/focus_checks.h"

namespace {

std::string bytes_of(const QString& text) {
    return text.toUtf8().toStdString();
}

QString text_of(const std::string& text) {
    return QString::fromStdString(text);
}

std::string trimmed(const QString& text) {
    return m_qmr::trim_spaces(bytes_of(text));
}

template <std::size_t N> int checked_index(const std::array<QRadioButton*, N>& options) {
    for (std::size_t i = 0; i < N; ++i)
        if (options[i]->isChecked())
            return static_cast<int>(i);
    return 0;
}

/// The stored number when it lies in [lowest, highest], else `fallback`: a
/// damaged or foreign line must not index past a list.
int within(const std::string& field_text, int lowest, int highest, int fallback) {
    if (m_qmr::trim_spaces_view(field_text).empty())
        return fallback;
    const int value = leading_number(field_text);
    return value >= lowest && value <= highest ? value : fallback;
}

bool has_control_character(const QString& text) {
    for (const QChar c : text)
        if (c.unicode() < 0x20 || c.unicode() == 0x7f)
            return true;
    return false;
}

/// Shows a stored text whole, even one longer than the box lets a user type
/// (written by hand): cut, it would be stored back cut by "Plannifier".
void show_stored(QLineEdit* box, const std::string& text) {
    const QString shown = text_of(text);
    box->setMaxLength(std::max(ExtractionForm::longest_typed_text, static_cast<int>(shown.size())));
    box->setText(shown);
}

} // namespace

ExtractionForm::ExtractionForm(const VolumeSource& volumes, const QString& start_folder, Prompter& prompter,
                               QWidget* parent)
    : QWidget(parent), volumes_(volumes ? volumes() : std::vector<std::string>{"/"}) {
    setObjectName(QStringLiteral("ExtractionForm"));
    build_controls();
    build_layout();
    set_accessible_names();
    focus_checks_ = new FocusChecks(this, prompter);
    watch_boxes();
    connect_directory_lists();
    Dir1->set_path(start_folder);
    reset();
}

ExtractionForm::~ExtractionForm() {
    // The password box must not outlive the style it draws with.
    Text6->setStyle(nullptr);
}

void ExtractionForm::watch_boxes() {
    focus_checks_->watch(Text2, [this] {
        return is_web_address(Text2->text())
                   ? QStringList{}
                   : QStringList{QStringLiteral("Veuillez indiquer une adresse internet valide")};
    });
    auto pattern_check = [](QLineEdit* box) {
        return [box] {
            QStringList messages;
            for (const std::string& message : m_qmr::check_name_pattern(bytes_of(box->text())))
                messages << text_of(message);
            return messages;
        };
    };
    for (std::size_t i = 0; i < Text3.size(); ++i) {
        focus_checks_->watch(Text3[i], pattern_check(Text3[i]));
        focus_checks_->watch(Text4[i], pattern_check(Text4[i]));
    }
}

void ExtractionForm::connect_directory_lists() {
    // A drive chosen, by the user or the program, opens at its root; a folder
    // opened shows the volume that holds it in the drive list.
    connect(Drive1, &QComboBox::currentIndexChanged, this, &ExtractionForm::open_drive);
    connect(Dir1, &DirectoryList::path_changed, this, &ExtractionForm::show_drive_of);
}

void ExtractionForm::open_drive(int index) {
    if (index >= 0)
        Dir1->set_path(Drive1->itemText(index));
}

void ExtractionForm::show_drive_of(const QString& folder) {
    const std::string volume = volume_of(bytes_of(folder), volumes_);
    if (volume.empty())
        return;
    const QSignalBlocker quiet(Drive1);
    Drive1->setCurrentIndex(Drive1->findText(text_of(volume)));
}

bool ExtractionForm::is_web_address(const QString& address) {
    return address.startsWith(QLatin1String("http://")) || address.startsWith(QLatin1String("https://"));
}

void ExtractionForm::set_all_image_formats(bool all_image_formats) {
    all_image_formats_ = all_image_formats;
    for (std::size_t i = 0; i < Combo3.size(); ++i) {
        fill_extension_list(Combo3[i], bytes_of(Combo3[i]->currentText()));
        fill_extension_list(Combo4[i], bytes_of(Combo4[i]->currentText()));
    }
}

void ExtractionForm::fill_extension_list(QComboBox* list, const std::string& shown) {
    list->clear();
    for (std::size_t i = 0; i < extension_choice_count(all_image_formats_); ++i)
        list->addItem(text_of(std::string(extension_choices[i])));
    const std::string extension = m_qmr::trim_spaces(shown);
    int at = m_qmr::index_extension(extension, all_image_formats_);
    // An extension that the list lacks (stored while the other formats were
    // offered, or written by hand) becomes one more item rather than "*", so
    // that "Plannifier" stores it back as it was.
    if (at == 0 && !extension.empty() && extension != "*") {
        list->addItem(text_of(extension));
        at = list->count() - 1;
    }
    list->setCurrentIndex(at);
}

bool ExtractionForm::settle_checks() {
    return focus_checks_->settle();
}

void ExtractionForm::focus_quietly(QWidget* box) {
    // The checks only follow the user's own moves (Tab, a click); this one
    // comes with another reason.
    box->setFocus(Qt::OtherFocusReason);
}

ExtractionJob ExtractionForm::current_job() const {
    ExtractionJob job;
    job.title = bytes_of(Text1->text());
    job.start_address = bytes_of(Text2->text());
    job.depth = Option3[1]->isChecked() ? Combo1->currentIndex() + 1 : 0;
    job.user_name = trimmed(Text5->text());
    job.password = trimmed(Text6->text());
    job.existing_policy = static_cast<ExistingPolicy>(checked_index(Option1) + 1);
    job.destination = bytes_of(Dir1->path());
    job.layout = static_cast<Layout>(checked_index(Option2) + 1);
    for (std::size_t i = 0; i < Text3.size(); ++i) {
        job.include_patterns[i] = {trimmed(Text3[i]->text()), bytes_of(Combo3[i]->currentText())};
        job.exclude_patterns[i] = {trimmed(Text4[i]->text()), bytes_of(Combo4[i]->currentText())};
    }
    return job;
}

int ExtractionForm::schedule_kind() const {
    return checked_index(Option4);
}

int ExtractionForm::interval_index() const {
    return Combo2->currentIndex();
}

int ExtractionForm::day_interval_index() const {
    return Combo7->currentIndex();
}

ScheduleLine ExtractionForm::line() const {
    const ExtractionJob job = current_job();
    ScheduleLine line;
    line.set_field(field::title, job.title);
    line.set_field(field::start_address, job.start_address);
    line.set_field(field::depth, std::to_string(job.depth));
    line.set_field(field::user_name, job.user_name);
    line.set_field(field::password, job.password);
    line.set_field(field::existing_policy, std::to_string(job.existing_policy));
    line.set_field(field::destination, job.destination);
    line.set_field(field::layout, std::to_string(job.layout));
    line.set_field(field::schedule_kind, std::to_string(schedule_kind()));
    line.set_field(field::interval_index, std::to_string(interval_index()));
    line.set_field(field::start_hour, std::to_string(Combo5->currentIndex()));
    line.set_field(field::start_minute_index, std::to_string(Combo6->currentIndex()));
    line.set_field(field::day_interval_index, std::to_string(day_interval_index()));
    for (std::size_t day = 0; day < Check1.size(); ++day)
        line.set_field(field::monday + static_cast<int>(day), Check1[day]->isChecked() ? "1" : "0");
    for (std::size_t i = 0; i < Text3.size(); ++i) {
        const int offset = 2 * static_cast<int>(i);
        line.set_field(field::first_include + offset, job.include_patterns[i].name);
        line.set_field(field::first_include + offset + 1, job.include_patterns[i].extension);
        line.set_field(field::first_exclude + offset, job.exclude_patterns[i].name);
        line.set_field(field::first_exclude + offset + 1, job.exclude_patterns[i].extension);
    }
    line.set_field(field::drive, bytes_of(Drive1->currentText()));
    return line;
}

QList<QLineEdit*> ExtractionForm::text_boxes() const {
    QList<QLineEdit*> boxes{Text1, Text2, Text5, Text6};
    boxes.append(QList<QLineEdit*>(Text3.begin(), Text3.end()));
    boxes.append(QList<QLineEdit*>(Text4.begin(), Text4.end()));
    return boxes;
}

void ExtractionForm::reset() {
    for (QLineEdit* box : text_boxes()) {
        box->clear();
        box->setMaxLength(longest_typed_text);
    }
    Option3[0]->setChecked(true);
    Combo1->setCurrentIndex(0);
    Option1[0]->setChecked(true);
    Option2[0]->setChecked(true);
    Option4[0]->setChecked(true);
    Combo2->setCurrentIndex(2);
    Combo7->setCurrentIndex(0);
    Combo5->setCurrentIndex(0);
    Combo6->setCurrentIndex(0);
    for (QCheckBox* day : Check1)
        day->setChecked(true);
    for (std::size_t i = 0; i < Text3.size(); ++i) {
        fill_extension_list(Combo3[i], "*");
        fill_extension_list(Combo4[i], "*");
    }
}

void ExtractionForm::load(const ScheduleLine& line) {
    show_stored(Text1, line.field(field::title));
    show_stored(Text2, line.field(field::start_address));
    const int depth = within(line.field(field::depth), 0, 4, 0);
    if (depth > 0)
        Combo1->setCurrentIndex(depth - 1);
    Option3[depth > 0 ? 1 : 0]->setChecked(true);
    show_stored(Text5, line.field(field::user_name));
    show_stored(Text6, line.field(field::password));
    Option1[static_cast<std::size_t>(within(line.field(field::existing_policy), 1, 3, 1) - 1)]->setChecked(true);

    // The folder first, so that the drive stored beside it stays shown even
    // when it is not a volume of this machine ("c:" from elsewhere).
    Dir1->set_path(text_of(line.field(field::destination)));
    const QString drive = text_of(line.field(field::drive));
    if (!drive.isEmpty()) {
        const QSignalBlocker quiet(Drive1);
        if (Drive1->findText(drive) < 0)
            Drive1->addItem(drive);
        Drive1->setCurrentIndex(Drive1->findText(drive));
    }

    Option2[static_cast<std::size_t>(within(line.field(field::layout), 1, 2, 1) - 1)]->setChecked(true);
    Option4[static_cast<std::size_t>(within(line.field(field::schedule_kind), 0, 2, 0))]->setChecked(true);
    Combo2->setCurrentIndex(within(line.field(field::interval_index), 0, 4, 2));
    Combo5->setCurrentIndex(within(line.field(field::start_hour), 0, 23, 0));
    Combo6->setCurrentIndex(within(line.field(field::start_minute_index), 0, 3, 0));
    Combo7->setCurrentIndex(within(line.field(field::day_interval_index), 0, 6, 0));
    for (std::size_t day = 0; day < Check1.size(); ++day)
        Check1[day]->setChecked(line.field(field::monday + static_cast<int>(day)) == "1");
    for (std::size_t i = 0; i < Text3.size(); ++i) {
        const int offset = 2 * static_cast<int>(i);
        show_stored(Text3[i], line.field(field::first_include + offset));
        fill_extension_list(Combo3[i], line.field(field::first_include + offset + 1));
        show_stored(Text4[i], line.field(field::first_exclude + offset));
        fill_extension_list(Combo4[i], line.field(field::first_exclude + offset + 1));
    }
}

QString ExtractionForm::control_character_refusal() const {
    std::vector<std::pair<QString, QString>> texts{
        {QStringLiteral("Titre"), Text1->text()},
        {QStringLiteral("Adresse Internet"), Text2->text()},
        {QStringLiteral("Utilisateur"), Text5->text()},
        {QStringLiteral("Mot de passe"), Text6->text()},
        {QStringLiteral("Répertoire de destination"), Dir1->path()},
        {QStringLiteral("Répertoire de destination"), Drive1->currentText()},
    };
    for (std::size_t i = 0; i < Text3.size(); ++i) {
        texts.emplace_back(Text3[i]->accessibleName(), Text3[i]->text());
        texts.emplace_back(Text4[i]->accessibleName(), Text4[i]->text());
    }
    for (const auto& [name, text] : texts) {
        if (has_control_character(text))
            return QStringLiteral("« %1 » contient un caractère de contrôle (un saut de ligne, une tabulation…), "
                                  "qui ne peut pas être enregistré.")
                .arg(name);
    }
    return {};
}
