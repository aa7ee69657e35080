// The controls of the extraction form and their arrangement: title and address
// along the top; depth, credentials and existing images stacked on the left;
// the destination in the middle; the schedule on the right; the include and
// exclude patterns below, with "Plannifier" and the status line to their right.

#include "ui/extraction_form.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QProxyStyle>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

#include "schedule/schedule_line.h"
#include "ui/directory_list.h"

namespace {

/// Shows each character of a password box as "*", whatever the desktop's
/// style would draw.
class StarPasswordStyle final : public QProxyStyle {
public:
    int styleHint(StyleHint hint, const QStyleOption* option, const QWidget* widget,
                  QStyleHintReturn* returned) const override {
        if (hint == SH_LineEdit_PasswordCharacter)
            return '*';
        if (hint == SH_LineEdit_PasswordMaskDelay)
            return 0;
        return QProxyStyle::styleHint(hint, option, widget, returned);
    }
};

QString text_of(std::string_view text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

template <typename Widget> Widget* named(Widget* widget, const QString& name) {
    widget->setObjectName(name);
    return widget;
}

QLineEdit* line_edit(const QString& name) {
    auto* box = named(new QLineEdit, name);
    box->setMaxLength(ExtractionForm::longest_typed_text);
    return box;
}

/// A drop-down list into which nothing can be typed.
template <typename Items> QComboBox* list(const QString& name, const Items& items) {
    auto* box = named(new QComboBox, name);
    box->setEditable(false);
    for (const auto& item : items)
        box->addItem(text_of(item));
    return box;
}

QLabel* label_for(const QString& text, QWidget* buddy) {
    auto* label = new QLabel(text);
    label->setBuddy(buddy);
    return label;
}

QString indexed(const char* name, std::size_t i) {
    return QStringLiteral("%1_%2").arg(QLatin1String(name)).arg(i);
}

} // namespace

void ExtractionForm::build_controls() {
    Text1 = line_edit(QStringLiteral("Text1"));
    Text2 = line_edit(QStringLiteral("Text2"));
    Option3 = {named(new QRadioButton(QStringLiteral("Non")), QStringLiteral("Option3_0")),
               named(new QRadioButton(QStringLiteral("Oui, sur")), QStringLiteral("Option3_1"))};
    Combo1 = list(QStringLiteral("Combo1"), std::array<std::string_view, 4>{"1", "2", "3", "4"});
    Text5 = line_edit(QStringLiteral("Text5"));
    Text6 = line_edit(QStringLiteral("Text6"));
    Text6->setEchoMode(QLineEdit::Password);
    star_password_style_ = new StarPasswordStyle;
    star_password_style_->setParent(this);
    Text6->setStyle(star_password_style_);
    Option1 = {named(new QRadioButton(QStringLiteral("Ne pas remplacer")), QStringLiteral("Option1_0")),
               named(new QRadioButton(QStringLiteral("Remplacer")), QStringLiteral("Option1_1")),
               named(new QRadioButton(QStringLiteral("Créer une nouvelle version")), QStringLiteral("Option1_2"))};
    Drive1 = list(QStringLiteral("Drive1"), volumes_);
    Dir1 = named(new DirectoryList, QStringLiteral("Dir1"));
    Option2 = {named(new QRadioButton(QStringLiteral("Copier toutes les images dans ce répertoire")),
                     QStringLiteral("Option2_0")),
               named(new QRadioButton(QStringLiteral("Créer une arborescence à partir de ce répertoire")),
                     QStringLiteral("Option2_1"))};
    for (std::size_t i = 0; i < Text3.size(); ++i) {
        Text3[i] = line_edit(indexed("Text3", i));
        // Filled by reset(), with the formats offered.
        Combo3[i] = list(indexed("Combo3", i), std::array<std::string_view, 0>{});
        Text4[i] = line_edit(indexed("Text4", i));
        Combo4[i] = list(indexed("Combo4", i), std::array<std::string_view, 0>{});
    }
    Option4 = {named(new QRadioButton(QStringLiteral("A la demande")), QStringLiteral("Option4_0")),
               named(new QRadioButton(QStringLiteral("Plusieurs fois par jour")), QStringLiteral("Option4_1")),
               named(new QRadioButton(QStringLiteral("A partir de")), QStringLiteral("Option4_2"))};
    Combo2 = list(QStringLiteral("Combo2"), interval_choices);
    std::vector<std::string> hours;
    for (int hour = 0; hour < 24; ++hour)
        hours.push_back(hour < 10 ? '0' + std::to_string(hour) : std::to_string(hour));
    Combo5 = list(QStringLiteral("Combo5"), hours);
    Combo6 = list(QStringLiteral("Combo6"), std::array<std::string_view, 4>{"00", "15", "30", "45"});
    Combo7 = list(QStringLiteral("Combo7"), day_interval_choices);
    static constexpr std::array<const char*, 7> days{"Lundi",    "Mardi",  "Mercredi", "Jeudi",
                                                     "Vendredi", "Samedi", "Dimanche"};
    for (std::size_t i = 0; i < Check1.size(); ++i)
        Check1[i] = named(new QCheckBox(QString::fromUtf8(days[i])), indexed("Check1", i));
    Command2 = named(new QPushButton(QStringLiteral("Plannifier")), QStringLiteral("Command2"));
    Label4 = named(new QLabel, QStringLiteral("Label4"));
    Label4->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    Label4->setAutoFillBackground(true);
    Label4->setMinimumHeight(Command2->sizeHint().height());
}

void ExtractionForm::build_layout() {
    auto* depth_frame =
        named(new QGroupBox(QStringLiteral("Parcours du site internet")), QStringLiteral("Frame_depth"));
    auto* depth_layout = new QGridLayout(depth_frame);
    depth_layout->addWidget(Option3[0], 0, 0, 1, 3);
    depth_layout->addWidget(Option3[1], 1, 0);
    depth_layout->addWidget(Combo1, 1, 1);
    depth_layout->addWidget(label_for(QStringLiteral("niveaux"), Combo1), 1, 2);
    depth_layout->setColumnStretch(3, 1);

    auto* access_frame = named(new QGroupBox(QStringLiteral("Accès sécurisé")), QStringLiteral("Frame_access"));
    auto* access_layout = new QGridLayout(access_frame);
    access_layout->addWidget(label_for(QStringLiteral("Utilisateur :"), Text5), 0, 0);
    access_layout->addWidget(Text5, 0, 1);
    access_layout->addWidget(label_for(QStringLiteral("Mot de passe :"), Text6), 1, 0);
    access_layout->addWidget(Text6, 1, 1);

    auto* existing_frame =
        named(new QGroupBox(QStringLiteral("Images déjà présentes")), QStringLiteral("Frame_existing"));
    auto* existing_layout = new QVBoxLayout(existing_frame);
    for (QRadioButton* option : Option1)
        existing_layout->addWidget(option);

    auto* left_column = new QVBoxLayout;
    left_column->addWidget(depth_frame);
    left_column->addWidget(access_frame);
    left_column->addWidget(existing_frame);
    left_column->addStretch();

    auto* destination_frame =
        named(new QGroupBox(QStringLiteral("Répertoire de destination")), QStringLiteral("Frame_destination"));
    auto* destination_layout = new QVBoxLayout(destination_frame);
    destination_layout->addWidget(Drive1);
    destination_layout->addWidget(Dir1, 1);
    destination_layout->addWidget(Option2[0]);
    destination_layout->addWidget(Option2[1]);

    auto* schedule_frame = named(new QGroupBox(QStringLiteral("Plannification")), QStringLiteral("Frame_schedule"));
    auto* schedule_layout = new QGridLayout(schedule_frame);
    schedule_layout->addWidget(Option4[0], 0, 0, 1, 4);
    schedule_layout->addWidget(Option4[1], 1, 0, 1, 4);
    schedule_layout->addWidget(Combo2, 2, 1, 1, 3);
    auto* start_row = new QHBoxLayout;
    start_row->addWidget(Option4[2]);
    start_row->addWidget(Combo5);
    start_row->addWidget(label_for(QStringLiteral("H"), Combo5));
    start_row->addWidget(Combo6);
    start_row->addStretch();
    schedule_layout->addLayout(start_row, 3, 0, 1, 4);
    schedule_layout->addWidget(Combo7, 4, 1, 1, 3);
    // "Les :" then the days in two columns: Lundi on its right, then
    // Mardi / Mercredi, Jeudi / Vendredi, Samedi / Dimanche.
    schedule_layout->addWidget(label_for(QStringLiteral("Les :"), Check1[0]), 5, 1);
    for (std::size_t i = 0; i < Check1.size(); ++i) {
        const int row = 5 + static_cast<int>((i + 1) / 2);
        const int column = i % 2 == 0 ? 2 : 1;
        schedule_layout->addWidget(Check1[i], row, column);
    }
    schedule_layout->setColumnMinimumWidth(0, 16);
    schedule_layout->setColumnStretch(3, 1);
    schedule_layout->setRowStretch(9, 1);

    auto* middle = new QHBoxLayout;
    middle->addLayout(left_column, 3);
    middle->addWidget(destination_frame, 3);
    middle->addWidget(schedule_frame, 3);

    auto pattern_frame = [](const QString& title, const QString& name, const std::array<QLineEdit*, 4>& boxes,
                            const std::array<QComboBox*, 4>& lists) {
        auto* frame = named(new QGroupBox(title), name);
        auto* grid = new QGridLayout(frame);
        for (std::size_t i = 0; i < boxes.size(); ++i) {
            const int row = static_cast<int>(i);
            grid->addWidget(boxes[i], row, 0);
            grid->addWidget(new QLabel(QStringLiteral(".")), row, 1);
            grid->addWidget(lists[i], row, 2);
        }
        grid->setColumnStretch(0, 1);
        return frame;
    };
    auto* command_column = new QVBoxLayout;
    command_column->addWidget(Command2);
    command_column->addWidget(Label4);
    command_column->addStretch();

    auto* patterns = new QHBoxLayout;
    patterns->addWidget(pattern_frame(QStringLiteral("Prendre uniquement ces images :"),
                                      QStringLiteral("Frame_include"), Text3, Combo3),
                        3);
    patterns->addWidget(
        pattern_frame(QStringLiteral("Exclure ces images :"), QStringLiteral("Frame_exclude"), Text4, Combo4), 3);
    patterns->addLayout(command_column, 3);

    auto* top = new QGridLayout;
    top->addWidget(label_for(QStringLiteral("Titre :"), Text1), 0, 0);
    top->addWidget(Text1, 0, 1);
    top->addWidget(label_for(QStringLiteral("Adresse Internet :"), Text2), 0, 2);
    top->addWidget(Text2, 0, 3);
    top->setColumnStretch(1, 2);
    top->setColumnStretch(3, 3);

    auto* form_layout = new QVBoxLayout(this);
    form_layout->setContentsMargins(0, 0, 0, 0);
    form_layout->addLayout(top);
    form_layout->addLayout(middle, 1);
    form_layout->addLayout(patterns);
}

void ExtractionForm::set_accessible_names() {
    // Screen readers and test robots find every control by the text a sighted
    // user reads beside it; the controls without a label of their own are
    // named after their frame.
    Text1->setAccessibleName(QStringLiteral("Titre :"));
    Text2->setAccessibleName(QStringLiteral("Adresse Internet :"));
    Combo1->setAccessibleName(QStringLiteral("Oui, sur : niveaux"));
    Text5->setAccessibleName(QStringLiteral("Utilisateur :"));
    Text6->setAccessibleName(QStringLiteral("Mot de passe :"));
    Drive1->setAccessibleName(QStringLiteral("Répertoire de destination : volume"));
    Dir1->setAccessibleName(QStringLiteral("Répertoire de destination : dossier"));
    for (std::size_t i = 0; i < Text3.size(); ++i) {
        const QString number = QString::number(i + 1);
        Text3[i]->setAccessibleName(QStringLiteral("Prendre uniquement ces images : nom ") + number);
        Combo3[i]->setAccessibleName(QStringLiteral("Prendre uniquement ces images : extension ") + number);
        Text4[i]->setAccessibleName(QStringLiteral("Exclure ces images : nom ") + number);
        Combo4[i]->setAccessibleName(QStringLiteral("Exclure ces images : extension ") + number);
    }
    Combo2->setAccessibleName(QStringLiteral("Plusieurs fois par jour : intervalle"));
    Combo5->setAccessibleName(QStringLiteral("A partir de : heure"));
    Combo6->setAccessibleName(QStringLiteral("A partir de : minutes"));
    Combo7->setAccessibleName(QStringLiteral("A partir de : jours"));
}

QList<QWidget*> ExtractionForm::focus_chain() const {
    QList<QWidget*> chain{Text1, Text2, Option3[0], Option3[1], Combo1, Text5, Text6};
    chain << Option1[0] << Option1[1] << Option1[2] << Drive1 << Dir1 << Option2[0] << Option2[1];
    for (std::size_t i = 0; i < Text3.size(); ++i)
        chain << Text3[i] << Combo3[i];
    for (std::size_t i = 0; i < Text4.size(); ++i)
        chain << Text4[i] << Combo4[i];
    chain << Option4[0] << Option4[1] << Combo2 << Combo5 << Combo6 << Combo7;
    for (QCheckBox* day : Check1)
        chain << day;
    chain << Command2;
    return chain;
}
