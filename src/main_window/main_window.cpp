#include "main_window.h"

#include "form/controls.h"
#include "form/entry_binder.h"
#include "image_transfer/image_pages.h"
#include "layout.h"
#include "link/device_choice.h"
#include "logos.h"
#include "polling/polling_page.h"
#include "port_menu.h"
#include "register_programming/register_page.h"
#include "start_options.h"
#include "tab_strip.h"
#include "text_transfer/text_pages.h"
#include "user_guide.h"

#include <QCloseEvent>
#include <QComboBox>
#include <QCoreApplication>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>

namespace rava {

void installFontSubstitutions() {
    static const bool installed = [] {
        // MS Sans Serif is narrow: DejaVu Sans would not fit several captions.
        QFont::insertSubstitutions(
            QStringLiteral("MS Sans Serif"),
            {QStringLiteral("Liberation Sans"), QStringLiteral("DejaVu Sans")});
        QFont::insertSubstitution(QStringLiteral("Tahoma"), QStringLiteral("DejaVu Sans"));
        QFont::insertSubstitution(QStringLiteral("Comic Sans MS"), QStringLiteral("Comic Neue"));
        QFont::insertSubstitution(QStringLiteral("Times New Roman"),
                                  QStringLiteral("Liberation Serif"));
        QFont::insertSubstitution(QStringLiteral("Monotype Corsiva"), QStringLiteral("Z003"));
        return true;
    }();
    Q_UNUSED(installed);
}

WindowControls WindowControls::resolve(QWidget* form) {
    using form::require;
    return {require<QComboBox>(form, "Combo1"),     require<QComboBox>(form, "Combo2"),
            require<QLabel>(form, "Label7"),        require<QLineEdit>(form, "Text12"),
            require<QRadioButton>(form, "Option1"), require<QRadioButton>(form, "Option2"),
            require<QPushButton>(form, "Command1"), require<QPushButton>(form, "Command2"),
            require<QPlainTextEdit>(form, "Text3"), require<QLabel>(form, "Image1"),
            require<QLabel>(form, "Image4")};
}

MainWindow::MainWindow(QWidget* parent) : QWidget(parent) {
    // Devices given for a start belong to the window they are given to.
    DeviceChoices::instance().clearStartChoices();
    installFontSubstitutions();
    setObjectName(QStringLiteral("Form1"));
    // Ending the program must not wait for anything the window started.
    setAttribute(Qt::WA_DeleteOnClose, false);
    buildWindow();

    ctx_.link = &link_;
    ctx_.settings = &settings_;
    ctx_.messenger = &messenger_;
    ctx_.lockTabs = [this](Tab keep, bool locked) { lockTabs(keep, locked); };
    ctx_.chooseFile = [this](const QString& title, const QString& filter) {
        if (chooser_)
            return chooser_(title, filter);
        return QFileDialog::getOpenFileName(this, title, QString(), filter);
    };

    wireControls();
    installFeaturePages();
    startUp();
}

MainWindow::~MainWindow() {
    // Pages and controls go first, while the channels they use still exist.
    while (!children().isEmpty())
        delete children().constFirst();
}

void MainWindow::buildWindow() {
    setWindowTitle(QString::fromLatin1(layout::kCaption));
    setFixedSize(layout::toPixels(layout::kClientWidth), layout::toPixels(layout::kClientHeight));
    setFont(layout::fontFor(layout::kWindowFont));
    QPalette pal = palette();
    pal.setColor(QPalette::Window, layout::colourFromValue(layout::kBackColour));
    setPalette(pal);
    setAutoFillBackground(true);

    tabs_ = new TabStrip(layout::toPixels(layout::kTabHeight), this);
    tabs_->setObjectName(QStringLiteral("SSTab1"));
    tabs_->setGeometry(
        layout::toPixels(layout::kTabStripLeft), layout::toPixels(layout::kTabStripTop),
        layout::toPixels(layout::kTabStripWidth), layout::toPixels(layout::kTabStripHeight));
    tabs_->tabBar()->setFont(layout::fontFor(layout::kTabFont));
    for (int i = 0; i < kTabCount; ++i) {
        QWidget* page = tabs_->addPage(QString::fromLatin1(layout::kTabCaptions[i]));
        layout::build(layout::tabPage(Tab(i)), page);
    }
    layout::build(layout::rightColumn(), this);
    // The tab strip lies over the column's title labels where they meet.
    tabs_->raise();
    ui_ = WindowControls::resolve(this);

    ui_.upperLogo->setPixmap(upperLogo());
    ui_.lowerLogo->setPixmap(lowerLogo());

    for (const char* name : kPortNames)
        ui_.ports->addItem(QString::fromLatin1(name));
    new PortMenu(ui_.ports, this);
    for (const LineSetting& row : kLineSettings)
        ui_.lineSettings->addItem(QString::fromLatin1(row.shown));
    // No entry is chosen until start-up chooses one, so that start-up's
    // choice is a change and runs the list's handler like a user's would.
    ui_.ports->setCurrentIndex(-1);
    ui_.lineSettings->setCurrentIndex(-1);
}

void MainWindow::wireControls() {
    connect(ui_.ports, qOverload<int>(&QComboBox::currentIndexChanged), this,
            [this](int index) { settings_.setPort(index + 1); });
    connect(ui_.lineSettings, qOverload<int>(&QComboBox::currentIndexChanged), &settings_,
            &StationSettings::setLineSetting);
    auto* remote = new form::EntryBinder(ui_.remote);
    connect(remote, &form::EntryBinder::accepted, &settings_, &StationSettings::setRemoteAddress);
    connect(ui_.master, &QRadioButton::clicked, this, [this] { chooseMode(Mode::Master); });
    connect(ui_.slave, &QRadioButton::clicked, this, [this] { chooseMode(Mode::Slave); });
    connect(tabs_, &TabStrip::currentChanged, this, &MainWindow::onTabChanged);
    connect(ui_.info, &QPushButton::clicked, this, &MainWindow::showInfo);
    connect(ui_.exit, &QPushButton::clicked, this, &MainWindow::exitProgram);
}

void MainWindow::installFeaturePages() {
    // Feature pages wire themselves to their controls here.
    new text::TextPages(ctx_, this, this);
    new image::ImagePages(ctx_, this, this);
    new registers::RegisterPage(ctx_, this, this);
    polling_ = new polling::PollingPage(ctx_, this, this);
}

void MainWindow::startUp() {
    ui_.ports->setCurrentIndex(0);
    ui_.lineSettings->setCurrentIndex(kDefaultLineSetting);
    settings_.setRemoteAddress(0);
    tabs_->setCurrentIndex(int(Tab::SetUp));
    ui_.guide->setPlainText(userGuideText());
}

void MainWindow::error(const QString& text) {
    QMessageBox box(QMessageBox::Critical, QStringLiteral("Error"), text, QMessageBox::Ok, this);
    box.exec();
}

void MainWindow::warning(const QString& text) {
    QMessageBox box(QMessageBox::Warning, QStringLiteral("Error"), text, QMessageBox::Ok, this);
    box.exec();
}

void MainWindow::info(const QString& title, const QString& text) {
    QMessageBox box(QMessageBox::Information, title, text, QMessageBox::Ok, this);
    box.exec();
}

void MainWindow::setMessenger(Messenger* messenger) {
    messenger_.setTarget(messenger ? messenger : this);
}

void MainWindow::setFileChooser(FileChooser chooser) {
    chooser_ = std::move(chooser);
}

void MainWindow::applyStartOptions(const StartOptions& options) {
    for (auto it = options.devices.cbegin(); it != options.devices.cend(); ++it)
        DeviceChoices::instance().setForThisStart(it.key(), it.value());
    if (options.port)
        ui_.ports->setCurrentIndex(*options.port - 1);
    if (options.lineSetting)
        ui_.lineSettings->setCurrentIndex(*options.lineSetting);
    if (options.slave)
        ui_.slave->click();
    if (options.remoteAddress)
        ui_.remote->setText(QString::number(*options.remoteAddress));
}

void MainWindow::lockTabs(Tab keep, bool locked) {
    for (int i = 0; i < tabs_->count(); ++i)
        tabs_->setTabEnabled(i, !locked || i == int(keep));
}

void MainWindow::chooseMode(Mode mode) {
    settings_.setMode(mode);
    // The remote address is a master's: a slave's box is emptied (its
    // handler makes the address 0) and locked. Each page follows with its
    // own controls.
    const bool master = mode == Mode::Master;
    ui_.remoteTitle->setEnabled(master);
    if (!master)
        ui_.remote->setText(QString());
    ui_.remote->setEnabled(master);
    if (polling_)
        polling_->applyMode(mode);
}

void MainWindow::onTabChanged(int current, int previous) {
    if (polling_)
        polling_->onTabChanged(Tab(current), Tab(previous));
}

QString MainWindow::infoTitle() {
    return QStringLiteral("2002 Rava 2 Demo - Version 1.2");
}

QString MainWindow::infoText() {
    return QStringLiteral("Author: Rava 2 Demo developers\r\n\r\n"
                          "E-mail address: none; report problems as the Contact section of "
                          "README.md says\r\n\r\n"
                          "Tel. number: none");
}

void MainWindow::showInfo() {
    messenger_.info(infoTitle(), infoText());
}

void MainWindow::exitProgram() {
    close();
    QCoreApplication::quit();
}

void MainWindow::closeEvent(QCloseEvent* event) {
    event->accept();
    QCoreApplication::quit();
}

QStringList MainWindow::saveTabScreenshots(const QString& dir) {
    QStringList written;
    QDir().mkpath(dir);
    const int before = tabs_->currentIndex();
    for (int i = 0; i < tabs_->count(); ++i) {
        tabs_->setCurrentIndex(i);
        QString slug = QString::fromLatin1(layout::kTabCaptions[i]).toLower();
        slug.replace(QLatin1Char(' '), QLatin1Char('-'));
        const QString path = QDir(dir).filePath(QStringLiteral("tab-%1-%2.png").arg(i).arg(slug));
        if (grab().save(path))
            written << path;
    }
    tabs_->setCurrentIndex(before);
    return written;
}

} // namespace rava
