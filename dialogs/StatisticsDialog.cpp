#include "StatisticsDialog.h"

#include <algorithm>

#include <QFontMetrics>
#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>
#include <QPainter>
#include <QPushButton>
#include <QStyledItemDelegate>
#include <QVBoxLayout>

#include <polyvant/Obj3d.h>
#include <polyvant/ObjectList.h>

#include "DetailedStatisticsDialog.h"
#include "app/Strings.h"
#include "app/UiServices.h"

using polyvant::Mesh3d;
using polyvant::Obj3d;
using polyvant::ObjectList;

namespace {

const char* const kTemplateTitle = "Statistics";
const char* const kStatistic = "Statistic"; // resource string 5
const char* const kMeshType = "MESH";
const char* const kNoMeshes = "No meshes to explore";

// Tab stops of the list in dialog units, and the heading columns that sit above them.
constexpr int kTabStops[5] = {3, 33, 73, 223, 263};
constexpr int kObjectRole = Qt::UserRole;
constexpr int kPositionRole = Qt::UserRole + 1;

int DialogUnitsX(const QFontMetrics& metrics, int units)
{
    return metrics.averageCharWidth() * units / 4;
}

// Draws a line's tab-separated fields at the list's tab stops; each field is cut at
// the next stop so that a long name cannot cover the counts.
class TabStopDelegate : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;

    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override
    {
        QStyleOptionViewItem opt = option;
        initStyleOption(&opt, index);
        const QStringList fields = opt.text.split(QLatin1Char('\t'));
        opt.text.clear();
        const QWidget* widget = opt.widget;
        QStyle* style = widget ? widget->style() : nullptr;
        if (style)
            style->drawControl(QStyle::CE_ItemViewItem, &opt, painter, widget);

        painter->save();
        const bool selected = opt.state & QStyle::State_Selected;
        painter->setPen(opt.palette.color(selected ? QPalette::HighlightedText : QPalette::Text));
        const QFontMetrics metrics(opt.font);
        // Field 0 is what stands before the first tab (empty in every line).
        for (int i = 1; i < fields.size() && i <= 5; ++i) {
            const int left = opt.rect.left() + DialogUnitsX(metrics, kTabStops[i - 1]);
            const int right = i < 5 ? opt.rect.left() + DialogUnitsX(metrics, kTabStops[i]) - 2
                                    : opt.rect.right();
            const QRect cell(left, opt.rect.top(), std::max(0, right - left), opt.rect.height());
            painter->drawText(cell, Qt::AlignLeft | Qt::AlignVCenter,
                              metrics.elidedText(fields[i], Qt::ElideRight, cell.width()));
        }
        painter->restore();
    }
};

} // namespace

StatisticsDialog::StatisticsDialog(ObjectList* scene, QWidget* parent)
    : QDialog(parent), m_scene(scene)
{
    setObjectName(QStringLiteral("statisticsDialog"));
    setWindowTitle(QString::fromLatin1(kTemplateTitle));

    auto* ok = new QPushButton(QStringLiteral("&OK"), this);
    ok->setObjectName(QStringLiteral("okButton"));
    ok->setDefault(true);

    m_list = new QListWidget(this);
    m_list->setObjectName(QStringLiteral("statisticsList"));
    m_list->setSelectionMode(QAbstractItemView::SingleSelection);
    m_list->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    m_list->setItemDelegate(new TabStopDelegate(m_list));
    const QFontMetrics metrics(font());
    m_list->setMinimumSize(DialogUnitsX(metrics, 305), metrics.height() * 10);

    // Column headings over the tab stops, measured from the list's left edge.
    struct Heading {
        const char* text;
        const char* name;
        int x;
    };
    const Heading headings[5] = {{"Nr.", "numberHeading", 5},
                                 {"Type", "typeHeading", 35},
                                 {"Name", "nameHeading", 75},
                                 {"Faces", "facesHeading", 225},
                                 {"Vertices", "verticesHeading", 265}};
    auto* headingRow = new QHBoxLayout;
    headingRow->setSpacing(0);
    headingRow->addSpacing(DialogUnitsX(metrics, headings[0].x));
    for (int i = 0; i < 5; ++i) {
        auto* label = new QLabel(QString::fromLatin1(headings[i].text), this);
        label->setObjectName(QString::fromLatin1(headings[i].name));
        if (i < 4)
            label->setFixedWidth(DialogUnitsX(metrics, headings[i + 1].x - headings[i].x));
        headingRow->addWidget(label, i < 4 ? 0 : 1);
    }

    auto* help = new QVBoxLayout;
    help->setSpacing(0);
    for (const char* line : {"Double click", "a line for more", "info or press ..."})
        help->addWidget(new QLabel(QString::fromLatin1(line), this));
    auto* details = new QPushButton(QStringLiteral("&Details"), this);
    details->setObjectName(QStringLiteral("detailsButton"));
    auto* flip = new QPushButton(QStringLiteral("FLIP"), this);
    flip->setObjectName(QStringLiteral("flipButton"));
    flip->setToolTip(QStringLiteral("Reverse the faces of the selected object"));
    // Present but hidden: flipping rebuilds every pane, which a stray click should not do.
    flip->hide();

    auto* side = new QVBoxLayout;
    side->addWidget(ok);
    side->addSpacing(metrics.height() / 2);
    side->addLayout(help);
    side->addSpacing(metrics.height() / 2);
    side->addWidget(details);
    side->addSpacing(metrics.height());
    side->addWidget(flip);
    side->addStretch(1);

    auto* listColumn = new QVBoxLayout;
    listColumn->addLayout(headingRow);
    listColumn->addWidget(m_list, 1);

    auto* layout = new QHBoxLayout(this);
    layout->addLayout(listColumn, 1);
    layout->addLayout(side);

    connect(ok, &QPushButton::clicked, this, &StatisticsDialog::accept);
    connect(details, &QPushButton::clicked, this, &StatisticsDialog::ShowDetails);
    connect(flip, &QPushButton::clicked, this, &StatisticsDialog::OnFlip);
    connect(m_list, &QListWidget::itemDoubleClicked, this, &StatisticsDialog::ShowDetails);

    FillList();
}

StatisticsDialog::~StatisticsDialog() = default;

int StatisticsDialog::Run(ObjectList* scene, QWidget* parent)
{
    if (!scene || scene->Count() == 0) {
        polyvant::ShowMessage(QString::fromLatin1(kNoMeshes), QString::fromLatin1(kTemplateTitle));
        return 0;
    }
    polyvant::BusyScope busy;
    StatisticsDialog dialog(scene, parent);
    return dialog.exec();
}

QString StatisticsDialog::LineText(int scenePosition, const Obj3d& object) const
{
    const auto& mesh = static_cast<const Mesh3d&>(object);
    const char* name = mesh.GetName();
    return QStringLiteral("\t%1\t%2\t%3\t%4\t%5")
        .arg(scenePosition)
        .arg(QString::fromLatin1(kMeshType))
        .arg(QString::fromUtf8(name ? name : ""))
        .arg(mesh.faceCount)
        .arg(mesh.vertexCount);
}

void StatisticsDialog::FillList()
{
    if (!m_scene || m_scene->Count() == 0)
        return;
    for (int i = 0; i < m_scene->Count(); ++i) {
        auto* object = static_cast<Obj3d*>(m_scene->Get(i));
        if (!object || object->GetType() != polyvant::kMeshType)
            continue;
        auto* item = new QListWidgetItem(LineText(i + 1, *object), m_list);
        item->setData(kObjectRole, QVariant::fromValue(reinterpret_cast<quintptr>(object)));
        item->setData(kPositionRole, i + 1);
    }
    if (m_list->count() > 0)
        m_list->setCurrentRow(0);
    setWindowTitle(QString::fromLatin1(polyvant::text::kProductName) + QLatin1Char(' ') +
                   QString::fromLatin1(kStatistic));
}

Obj3d* StatisticsDialog::ObjectOfLine(int line) const
{
    const QListWidgetItem* item = m_list->item(line);
    if (!item || !m_scene)
        return nullptr;
    auto* object = reinterpret_cast<Obj3d*>(item->data(kObjectRole).value<quintptr>());
    // The line is trusted only while its object is still in the scene.
    for (int i = 0; i < m_scene->Count(); ++i) {
        if (m_scene->Get(i) == object)
            return object->GetType() == polyvant::kMeshType ? object : nullptr;
    }
    return nullptr;
}

void StatisticsDialog::ShowDetails()
{
    QListWidgetItem* item = m_list->currentItem();
    if (!item || !item->isSelected())
        return;
    const int line = m_list->row(item);
    Obj3d* object = ObjectOfLine(line);
    if (!object)
        return;
    auto* mesh = static_cast<Mesh3d*>(object);

    DetailedStatisticsDialog details(this);
    details.SetName(mesh->GetName());
    details.SetType(QString::fromLatin1(kMeshType));
    details.SetCounts(mesh->faceCount, mesh->vertexCount);
    details.SetBox(mesh->min, mesh->max);
    if (details.exec() != QDialog::Accepted)
        return;

    mesh->SetName(details.Name().c_str());
    item->setText(LineText(item->data(kPositionRole).toInt(), *mesh));
    // The replaced line comes back unselected: Details waits for a new choice.
    m_list->clearSelection();
    m_list->setCurrentItem(nullptr);
}

void StatisticsDialog::OnFlip()
{
    QListWidgetItem* item = m_list->currentItem();
    if (item && item->isSelected()) {
        if (Obj3d* object = ObjectOfLine(m_list->row(item)))
            static_cast<Mesh3d*>(object)->ReverseWinding();
    }
    done(kFlipResult);
}
