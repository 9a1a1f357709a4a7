#include "DetailedStatisticsDialog.h"

#include <charconv>

#include <QEvent>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "app/Strings.h"

namespace {

const char* const kTemplateTitle = "Detailed Statistics"; // also resource string 6

// "%.3lf" as printf rounds it, with a "." whatever the locale.
QString ThreeDecimals(double value)
{
    char buffer[400];
    const auto result =
        std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed, 3);
    return QString::fromLatin1(buffer, result.ptr - buffer);
}

QLineEdit* ReadOnlyEdit(const char* objectName, QWidget* parent)
{
    auto* edit = new QLineEdit(parent);
    edit->setObjectName(QString::fromLatin1(objectName));
    edit->setReadOnly(true);
    return edit;
}

// A caption and its ":" static, then the edit, from column `column` of `row`.
void AddRow(QGridLayout* grid, int row, int column, const char* caption, QWidget* edit,
            int editColumns = 1)
{
    grid->addWidget(new QLabel(QString::fromLatin1(caption)), row, column);
    grid->addWidget(new QLabel(QStringLiteral(":")), row, column + 1);
    grid->addWidget(edit, row, column + 2, 1, editColumns);
}

} // namespace

DetailedStatisticsDialog::DetailedStatisticsDialog(QWidget* parent) : QDialog(parent)
{
    setObjectName(QStringLiteral("detailedStatisticsDialog"));
    setWindowTitle(QString::fromLatin1(polyvant::text::kProductName) + QLatin1Char(' ') +
                   QString::fromLatin1(kTemplateTitle));

    // Creation order is the template's tab order: Cancel, OK, then the fields.
    auto* cancel = new QPushButton(QStringLiteral("&Cancel"), this);
    cancel->setObjectName(QStringLiteral("cancelButton"));
    auto* ok = new QPushButton(QStringLiteral("&OK"), this);
    ok->setObjectName(QStringLiteral("okButton"));
    ok->setAutoDefault(false);
    // The template makes Cancel the default button: Enter closes without renaming.
    cancel->setDefault(true);

    m_nameEdit = new QLineEdit(this);
    m_nameEdit->setObjectName(QStringLiteral("nameEdit"));
    m_nameEdit->installEventFilter(this);
    m_typeEdit = ReadOnlyEdit("typeEdit", this);
    m_facesEdit = ReadOnlyEdit("facesEdit", this);
    m_verticesEdit = ReadOnlyEdit("verticesEdit", this);
    const char* minNames[3] = {"minXEdit", "minYEdit", "minZEdit"};
    const char* maxNames[3] = {"maxXEdit", "maxYEdit", "maxZEdit"};
    for (int i = 0; i < 3; ++i)
        m_minEdits[i] = ReadOnlyEdit(minNames[i], this);
    for (int i = 0; i < 3; ++i)
        m_maxEdits[i] = ReadOnlyEdit(maxNames[i], this);

    auto* grid = new QGridLayout;
    AddRow(grid, 0, 0, "Name", m_nameEdit, 4);
    AddRow(grid, 1, 0, "Type", m_typeEdit);
    AddRow(grid, 2, 0, "Faces", m_facesEdit);
    AddRow(grid, 2, 3, "Vertices", m_verticesEdit);
    const char* minCaptions[3] = {"Min X", "Min Y", "Min Z"};
    const char* maxCaptions[3] = {"Max X", "Max Y", "Max Z"};
    for (int i = 0; i < 3; ++i) {
        AddRow(grid, 3 + i, 0, minCaptions[i], m_minEdits[i]);
        AddRow(grid, 3 + i, 3, maxCaptions[i], m_maxEdits[i]);
    }

    auto* buttons = new QHBoxLayout;
    buttons->addWidget(ok);
    buttons->addStretch(1);
    buttons->addWidget(cancel);

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(grid);
    layout->addLayout(buttons);

    connect(ok, &QPushButton::clicked, this, &DetailedStatisticsDialog::accept);
    connect(cancel, &QPushButton::clicked, this, &DetailedStatisticsDialog::reject);
}

DetailedStatisticsDialog::~DetailedStatisticsDialog() = default;

void DetailedStatisticsDialog::SetName(const char* name)
{
    m_name = name ? name : "";
    m_givenName = m_name;
    m_shownName = QString::fromUtf8(m_name.data(), qsizetype(m_name.size()));
    m_nameEdit->setText(m_shownName);
}

void DetailedStatisticsDialog::SetType(const QString& type)
{
    m_typeEdit->setText(type);
}

void DetailedStatisticsDialog::SetCounts(std::uint32_t faces, std::uint32_t vertices)
{
    m_facesEdit->setText(QString::number(faces));
    m_verticesEdit->setText(QString::number(vertices));
}

void DetailedStatisticsDialog::SetBox(const double* min, const double* max)
{
    for (int i = 0; i < 3; ++i) {
        m_minEdits[i]->setText(ThreeDecimals(min[i]));
        m_maxEdits[i]->setText(ThreeDecimals(max[i]));
    }
}

void DetailedStatisticsDialog::TakeName()
{
    // Untouched text keeps the original bytes: a name that is not valid UTF-8 would
    // otherwise come back with replacement characters.
    const QString text = m_nameEdit->text();
    if (text != m_shownName) {
        m_name = text.toUtf8().toStdString();
        m_shownName = text;
    }
}

bool DetailedStatisticsDialog::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == m_nameEdit && event->type() == QEvent::FocusOut)
        TakeName();
    return QDialog::eventFilter(watched, event);
}

void DetailedStatisticsDialog::accept()
{
    // The name edit may still have the focus: its text is what OK confirms.
    TakeName();
    QDialog::accept();
}

void DetailedStatisticsDialog::reject()
{
    m_name = m_givenName;
    QDialog::reject();
}
