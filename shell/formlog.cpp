#include "shell/formlog.h"

#include "config/chain_check.h"
#include "config/weight_chain.h"

#include "config/settings.h"
#include "platform/clock.h"
#include "platform/database.h"
#include "platform/event_pump.h"
#include "platform/prompts.h"
#include "shell/password.h"
#include "shell/weight_log_model.h"

#include <QCloseEvent>
#include <QFocusEvent>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPushButton>
#include <QTableView>
#include <QVBoxLayout>

namespace veltrane {

Formlog::Formlog(const Deps& deps, QWidget* parent) : QWidget(parent, Qt::Window), m_deps(deps) {
    setObjectName(QStringLiteral("Formlog"));
    setWindowTitle(QStringLiteral("Veltrane log data"));

    m_model = new WeightLogModel(this);
    m_caption = new QLabel(this);
    m_caption->setObjectName(QStringLiteral("DBGrid1Caption"));
    m_grid = new QTableView(this);
    m_grid->setObjectName(QStringLiteral("DBGrid1"));
    m_grid->setModel(m_model);
    m_grid->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_grid->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_grid->horizontalHeader()->setStretchLastSection(true);
    m_grid->setColumnWidth(0, 170);

    auto* search = new QGroupBox(QStringLiteral("Search data"), this);
    auto* searchRow = new QHBoxLayout(search);
    for (int i = 0; i < 2; ++i) {
        auto* box = new QLineEdit(search);
        box->setObjectName(QStringLiteral("eventdate%1").arg(i));
        box->setPlaceholderText(QStringLiteral("YYYY-MM-DD"));
        box->installEventFilter(this);
        m_eventdate[static_cast<size_t>(i)] = box;
    }
    searchRow->addWidget(new QLabel(QStringLiteral("From"), search));
    searchRow->addWidget(m_eventdate[0]);
    searchRow->addWidget(new QLabel(QStringLiteral("To"), search));
    searchRow->addWidget(m_eventdate[1]);
    m_showall = new QPushButton(QStringLiteral("Show log"), search);
    m_showall->setObjectName(QStringLiteral("showall"));
    searchRow->addWidget(m_showall);

    m_wipe = new QPushButton(QStringLiteral("Delete all"), this);
    m_wipe->setObjectName(QStringLiteral("wipe"));
    m_cmdclose = new QPushButton(QStringLiteral("Close"), this);
    m_cmdclose->setObjectName(QStringLiteral("cmdclose"));
    m_verify = new QPushButton(QStringLiteral("Verify"), this);
    m_verify->setObjectName(QStringLiteral("verify"));
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(m_wipe);
    buttons->addWidget(m_verify);
    buttons->addStretch();
    buttons->addWidget(m_cmdclose);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_caption);
    layout->addWidget(m_grid, 1);
    layout->addWidget(search);
    layout->addLayout(buttons);
    resize(560, 420);

    connect(m_showall, &QPushButton::clicked, this, &Formlog::showall);
    connect(m_wipe, &QPushButton::clicked, this, &Formlog::wipe);
    connect(m_verify, &QPushButton::clicked, this, [this] {
        const QString report = verifyReport();
        if (report.isEmpty()) return;
        auto* box = new QPlainTextEdit(report);
        box->setAttribute(Qt::WA_DeleteOnClose);
        box->setReadOnly(true);
        box->setWindowTitle(QStringLiteral("Verify"));
        box->setObjectName(QStringLiteral("verifyReport"));
        box->resize(640, 360);
        box->show();
    });
    connect(m_cmdclose, &QPushButton::clicked, this, &QWidget::close);
    connect(m_grid->selectionModel(), &QItemSelectionModel::currentRowChanged, this,
            &Formlog::updatePosition);
    connect(m_model, &QAbstractItemModel::modelReset, this, &Formlog::updatePosition);
    connect(m_model, &QAbstractItemModel::rowsRemoved, this, &Formlog::updatePosition);

    try {
        m_database = Database::open(m_deps.databasePath, QString::fromLatin1(kSettingsDatabaseConnect));
        m_model->setDatabase(m_database.get());
        // A deletion needs the event log to record it in; a file that cannot get one (read-only) is still
        // shown, and its deletions fail.
        try {
            ensureChainTables(*m_database);
        } catch (const DbError&) {
        }
    } catch (const DbError& e) {
        m_deps.prompts.message(e.description(), MessageIcon::Critical);
    }
    m_eventdate[0]->setText(today());
    m_eventdate[1]->setText(today());
    showall();
}

Formlog::~Formlog() = default;

QString Formlog::verifyReport() {
    if (!m_database) return {};
    try {
        return checkChains(*m_database).text();
    } catch (const DbError& e) {
        return e.description();
    }
}

QString Formlog::today() const {
    return shortDate(m_deps.clock.now().date());
}

QString Formlog::gridCaption() const {
    return m_caption->text();
}

void Formlog::updatePosition() {
    const QModelIndex current = m_grid->currentIndex();
    const int position = current.isValid() ? current.row() + 1 : 0;
    m_caption->setText(QStringLiteral("%1 of %2").arg(position).arg(m_model->total()));
}

void Formlog::showall() {
    const std::optional<QDate> first = parseLogDate(m_eventdate[0]->text());
    const std::optional<QDate> last = parseLogDate(m_eventdate[1]->text());
    if (!first || !last) {
        m_deps.prompts.beep();
        m_deps.prompts.message(QStringLiteral("Enter the date range!!"));
        return;
    }
    if (!m_database) return;
    try {
        m_model->search(logRangeFor(*first, *last));
    } catch (const DbError& e) {
        m_deps.prompts.message(e.description(), MessageIcon::Critical);
        return;
    }
    if (m_model->rowCount() > 0) m_grid->setCurrentIndex(m_model->index(0, 0));
    updatePosition();
}

void Formlog::checkDate(int index) {
    QLineEdit* box = m_eventdate[static_cast<size_t>(index)];
    if (box->text().isEmpty() || parseLogDate(box->text())) return;
    m_deps.prompts.beep();
    m_deps.prompts.message(QStringLiteral("Not a valid date!"));
    box->setText(today());
}

bool Formlog::eventFilter(QObject* watched, QEvent* event) {
    // Only leaving the box for another control of this window checks it: another window taking the focus
    // (another program, the main window, our own message box) or a popup such as the box's menu does not.
    const auto leftForAControl = [event] {
        const Qt::FocusReason reason = static_cast<QFocusEvent*>(event)->reason();
        return reason != Qt::ActiveWindowFocusReason && reason != Qt::PopupFocusReason;
    };
    if (event->type() == QEvent::FocusOut && leftForAControl()) {
        for (int i = 0; i < 2; ++i) {
            if (watched == m_eventdate[static_cast<size_t>(i)]) checkDate(i);
        }
    }
    return QWidget::eventFilter(watched, event);
}

void Formlog::wipe() {
    if (m_deleting) return;
    const int n = m_model->total();
    if (n == 0) {
        m_deps.prompts.message(QStringLiteral("Nothing to delete!"));
        return;
    }
    if (!m_deps.prompts.askYesNo(QStringLiteral("Confirm that you really want to delete ") +
                                 QString::number(n) + QStringLiteral(" alarm records ?"))) {
        return;
    }
    if (!m_deps.password.askAccess()) return;
    if (!m_deps.prompts.askYesNo(
            QStringLiteral("Re-confirm that you really want to delete all these weight records ?"))) {
        return;
    }

    m_deleting = true;
    m_wipe->setEnabled(false);
    QPointer<Formlog> alive(this);
    const int generation = m_model->generation();
    int row = 0;  // rows before this one could not be deleted and stay
    while (row < m_model->total()) {
        m_deps.events.processEvents();
        // The operator may have searched again or asked to close meanwhile: the result being deleted is gone.
        if (!alive || m_closeRequested || m_model->generation() != generation) break;
        try {
            // A page at a time, each with its event: the loop still lets the window answer between them.
            m_model->deleteRows(row, WeightLogModel::kPageSize, generalDate(m_deps.clock.now()));
        } catch (const DbError&) {
            ++row;
        }
    }
    if (!alive) return;
    m_deleting = false;
    m_wipe->setEnabled(true);
    if (m_closeRequested) close();
}

void Formlog::closeEvent(QCloseEvent* event) {
    // Closing in the middle of a deletion ends the loop first; the window goes when it has stopped.
    if (m_deleting) {
        m_closeRequested = true;
        event->ignore();
        return;
    }
    QWidget::closeEvent(event);
}

}  // namespace veltrane
