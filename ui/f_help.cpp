#include "ui/f_help.h"

#include <QPlainTextEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace {

// The spelling is the program's own and stays as it is.
constexpr const char* help_lines[] = {
    "Propriétés d'une extraction :",
    "-------------------------------------------",
    "Titre : Le nom que vous souhaitez pour cette extraction",
    "Adresse internet : http://... : l'adresse à partir de laquelle l'extraction commence",
    "Parcours du site internet : Oui, s'il faut explorer les liens à partir de la home page",
    "Accès sécurisé : indiquer le nom d'utilisateur et le mot de passe si le site est protégé",
    "Images dèjà présente : Que faut-il faire si l'image est déjà présente dans le répertoire ",
    "de desination.",
    "Répertoire de destination : répertoire où seront copiées les images.",
    "",
    "Planification :",
    "- A la demande : l' extraction sera exécutée en clickant sur \"Extraire maintenant !\"",
    "- Plusieurs fois par jour : extraction exécutée automatiquement plusieurs fois par jour.",
    "- A partir de... : extraction exécutée automatiquement une fois par jour.",
    "",
    "Prendre uniquement ces images :",
    "préciser les noms de fichier et extensions. Vous pouvez uiliser ici les caractères ",
    "générique * qui remplace un ou plusieurs caractères et ? qui remplace un seul ",
    "caractère.",
    "",
    "Exclure ces images :",
    "Indiquer ici les noms de fichiers que vous ne voulez pas récupérer. vous pouvez ",
    "utiliser également les caractères génériques * et ?",
    "",
    "Boutons :",
    "--------------",
    "- Plannifier : Permet de mémoriser une extraction.",
    "- Supprimer : Efface une extraction plannifiée mais ne supprime par pour autant les ",
    "images récupérées.",
    "- Extraire maintenant : exécute une extraction immédiatement.",
    "- Editer : Permet de modifier une extraction plannifiée. Une fois la modification ",
    "terminée, clicker sur \"Plannifier\" pour mémoriser cette modification.",
};

} // namespace

QString f_help::help_text() {
    QString text;
    for (const char* line : help_lines)
        text += QString::fromUtf8(line) + QStringLiteral("\r\n");
    return text;
}

f_help::f_help(QWidget* owner) : QWidget(owner, Qt::Window) {
    setObjectName(QStringLiteral("f_help"));
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowTitle(QStringLiteral("Aide"));

    Text1 = new QPlainTextEdit;
    Text1->setObjectName(QStringLiteral("Text1"));
    Text1->setAccessibleName(QStringLiteral("Aide"));
    Text1->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    Text1->setLineWrapMode(QPlainTextEdit::WidgetWidth);
    // The editor keeps a CR as a character of its own: lines are shown by
    // their LF alone.
    Text1->setPlainText(help_text().remove(u'\r'));

    Command1 = new QPushButton(QStringLiteral("Ok"));
    Command1->setObjectName(QStringLiteral("Command1"));
    connect(Command1, &QPushButton::clicked, this, &QWidget::close);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(Text1, 1);
    layout->addWidget(Command1, 0, Qt::AlignHCenter);
    resize(620, 480);
}
