#include "window_fixture.h"

#include <QPlainTextEdit>

#include "ui/f_help.h"

using Help = WindowTest;

TEST_F(Help, OneHelpWindowAtATimeFreshAtEveryOpeningAndTheAboutBox) {
    const QStringList lines = f_help::help_text().split(QStringLiteral("\r\n"));
    ASSERT_EQ(lines.size(), 33) << "32 lines, each ended by CR LF";
    EXPECT_EQ(lines[6], QStringLiteral("Images dèjà présente : Que faut-il faire si l'image est déjà présente dans "
                                       "le répertoire "));
    EXPECT_EQ(lines[31], QStringLiteral("terminée, clicker sur \"Plannifier\" pour mémoriser cette modification."));

    window->m_aide_Click();
    f_help* help = window->help_window();
    ASSERT_NE(help, nullptr);
    window->m_aide_Click();
    EXPECT_EQ(window->findChildren<f_help*>().size(), 1);
    EXPECT_EQ(window->help_window(), help);
    EXPECT_TRUE(help->isVisible());
    EXPECT_FALSE(help->isModal());

    help->Text1->setPlainText(QStringLiteral("effacé"));
    QTest::mouseClick(help->Command1, Qt::LeftButton);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_EQ(window->help_window(), nullptr);
    window->m_aide_Click();
    EXPECT_EQ(window->help_window()->Text1->toPlainText(), f_help::help_text().remove(u'\r'));
    window->m_apropos_Click();
    const TestPrompter::Shown about{PromptIcon::information, "A propos", "Quillmoor v2.0", {PromptButton::ok}};
    EXPECT_EQ(prompter.shown, std::vector{about});
}
