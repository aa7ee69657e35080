#include "window_fixture.h"

#include <QAccessible>
#include <QAction>
#include <QDesktopServices>
#include <QImage>
#include <QListView>
#include <QSignalSpy>
#include <QTableWidget>
#include <QUrl>

#include "support/time_zone.h"
#include "ui/journal_window.h"
#include "ui/thumbnails.h"

namespace {

/// Takes the addresses that would go to the desktop's viewer.
class OpenedUrls final : public QObject {
    Q_OBJECT

public:
    OpenedUrls() { QDesktopServices::setUrlHandler(QStringLiteral("file"), this, "open"); }
    ~OpenedUrls() override { QDesktopServices::unsetUrlHandler(QStringLiteral("file")); }
    QList<QUrl> urls;

public slots:
    void open(const QUrl& url) { urls << url; }
};

QString accessible(QWidget* control, QAccessible::Text kind = QAccessible::Name, int row = -1) {
    QAccessibleInterface* shown = QAccessible::queryAccessibleInterface(control);
    return row < 0 ? shown->text(kind) : shown->tableInterface()->cellAt(row, 0)->text(kind);
}

class Journal : public WindowTest {};

TEST_F(Journal, ShowsTheRunsNewestFirstAndTheFailuresAndImagesOfTheOneSelected) {
    const TimeZone paris{"Europe/Paris"};
    TempDir images;
    // 2007/05/14 at 08:45, 08:50 and 10:00 in Paris; the second one due at 03:00.
    journal->record(
        {0, "Galerie", RunOrigin::button, 1179125100, 1179125160, RunEnding::completed, {}, 3, 10, 2, 0, {}, {}});
    RunRecord late{
        0, "Musée", RunOrigin::schedule, 1179125400, 1179125460, RunEnding::incomplete, 1179104400, 4, 3, 0, 2, {}, {}};
    late.failures = {{"http://site/a.gif", "réponse du serveur : 404"}, {"http://site/b/", "réseau : délai"}};
    for (const char* name : {"large.png", "tall.jpg", "wide.svg", "small.webp", "gone.gif", "broken.png"})
        late.files.push_back(images.file(name));
    journal->record(late);
    journal->record(
        {0, "Galerie", RunOrigin::terminal, 1179129600, 1179129601, RunEnding::stopped, {}, 1, 0, 0, 0, {}, {}});
    for (const auto& [name, width, height] :
         {std::tuple{"large.png", 300, 200}, {"tall.jpg", 200, 300}, {"small.webp", 120, 60}})
        QImage(width, height, QImage::Format_RGB32).save(QString::fromStdString(images.file(name)));
    write_file(images.file("wide.svg"), "<svg xmlns='http://www.w3.org/2000/svg' width='400' height='100'>"
                                        "<rect width='400' height='100' fill='green'/></svg>");
    write_file(images.file("broken.png"), "\x89PNG not an image");

    // One window at a time.
    QAction* item = window->findChild<QAction*>(QStringLiteral("m_journal"));
    item->trigger();
    JournalWindow* shown = window->journal_window();
    item->trigger();
    ASSERT_EQ(window->findChildren<JournalWindow*>(), QList<JournalWindow*>{shown});
    ASSERT_TRUE(QTest::qWaitForWindowExposed(shown));

    // A mark beside the runs that did not end well or came late.
    std::vector<std::string> rows;
    for (int row = 0; row < shown->runs->rowCount(); ++row) {
        QStringList texts;
        for (int column = 0; column < JournalWindow::column_count; ++column)
            texts << shown->runs->item(row, column)->text();
        texts << (shown->runs->item(row, JournalWindow::state)->icon().isNull() ? "" : "marquée");
        rows.push_back(texts.join('|').toStdString());
    }
    EXPECT_EQ(rows, (std::vector<std::string>{
                        "14/05/2007 10:00|Galerie|Terminal|1|0|0|0|Interrompue|marquée",
                        "14/05/2007 08:50|Musée|Planification|4|3|0|2|Incomplète, en retard, prévue le 14/05/2007 "
                        "à 03:00|marquée",
                        "14/05/2007 08:45|Galerie|Bouton|3|10|2|0|Terminée|"}));
    EXPECT_EQ(shown->selected_run(), journal->recent(1).at(0).id);

    QSignalSpy made(shown->thumbnails(), &Thumbnails::made);
    shown->runs->setCurrentCell(1, 0);
    ASSERT_EQ(shown->failures->rowCount(), 2);
    EXPECT_EQ(shown->failures->item(1, 0)->text() + " " + shown->failures->item(1, 1)->text(),
              "http://site/b/ réseau : délai");
    // Made for the pictures on screen, scaled to fit, or shown as a plain placeholder, which a screen reader
    // tells apart.
    QTRY_COMPARE(made.count(), 6);
    const std::pair<const char*, QSize> expected[] = {{"large.png", {96, 64}}, {"tall.jpg", {64, 96}},
                                                      {"wide.svg", {96, 24}},  {"small.webp", {96, 48}},
                                                      {"gone.gif", {}},        {"broken.png", {}}};
    for (int row = 0; row < 6; ++row) {
        const auto& [name, size] = expected[row];
        SCOPED_TRACE(name);
        const QModelIndex index = shown->images->model()->index(row, 0);
        EXPECT_EQ(accessible(shown->images, QAccessible::Name, row), name);
        EXPECT_EQ(index.data(Qt::DecorationRole).value<QPixmap>().size(), size.isValid() ? size : QSize(96, 96));
        EXPECT_EQ(
            accessible(shown->images, QAccessible::Description, row).endsWith(" : image introuvable ou illisible"),
            !size.isValid());
    }
    QStringList names;
    for (QWidget* control : std::initializer_list<QWidget*>{shown->runs, shown->failures, shown->images,
                                                            shown->refresh_button, shown->close_button})
        names << accessible(control);
    EXPECT_EQ(names, QStringList({"Exécutions", "Adresses en échec", "Images écrites", "Actualiser", "Fermer"}));

    // A double click opens an image in the desktop's viewer; a file gone since is not handed to it.
    OpenedUrls viewer;
    for (const int row : {1, 4}) {
        const QRect place = shown->images->visualRect(shown->images->model()->index(row, 0));
        QTest::mouseClick(shown->images->viewport(), Qt::LeftButton, {}, place.center());
        QTest::mouseDClick(shown->images->viewport(), Qt::LeftButton, {}, place.center());
    }
    EXPECT_EQ(viewer.urls, QList<QUrl>{QUrl::fromLocalFile(QString::fromStdString(images.file("tall.jpg")))});

    // Read again, the journal keeps the run selected and shows the new ones; closed while thumbnails are being
    // made, the window goes with them.
    journal->record(
        {0, "Nouvelle", RunOrigin::button, 1179130000, 1179130001, RunEnding::completed, {}, 0, 0, 0, 0, {}, {}});
    QTest::mouseClick(shown->refresh_button, Qt::LeftButton);
    EXPECT_EQ(shown->runs->item(0, JournalWindow::title)->text(), "Nouvelle");
    EXPECT_EQ(shown->runs->item(shown->runs->currentRow(), JournalWindow::title)->text(), "Musée");
    shown->thumbnails()->picture(QString::fromStdString(images.file("elsewhere.png")));
    QTest::mouseClick(shown->close_button, Qt::LeftButton);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_EQ(window->journal_window(), nullptr);
}

} // namespace

#include "journal_window_test.moc"
