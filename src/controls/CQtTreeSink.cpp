#include "controls/CQtTreeSink.h"

#include <QHeaderView>
#include <QScrollBar>
#include <QSet>
#include <QTreeWidget>

namespace
{
QString PathOf(const QTreeWidgetItem* item)
{
    QString path;
    for (; item != nullptr; item = item->parent())
        path.prepend(item->text(0) + QChar(0x1F));
    return path;
}

void CollectExpanded(const QTreeWidgetItem* item, QSet<QString>& expanded)
{
    if (item->isExpanded())
        expanded.insert(PathOf(item));
    for (int i = 0; i < item->childCount(); ++i)
        CollectExpanded(item->child(i), expanded);
}

void AddNode(QTreeWidgetItem* item, const CTreeNode& node, const QSet<QString>& expanded)
{
    item->setText(0, QString::fromStdString(node.text));
    if (node.hasColour)
    {
        // Colour references are 0x00BBGGRR.
        item->setForeground(0,
                            QColor(static_cast<int>(node.colour & 0xFFu), static_cast<int>((node.colour >> 8) & 0xFFu),
                                   static_cast<int>((node.colour >> 16) & 0xFFu)));
    }
    for (const CTreeNode& child : node.children)
        AddNode(new QTreeWidgetItem(item), child, expanded);
    if (node.expanded || expanded.contains(PathOf(item)))
        item->setExpanded(true);
}
} // namespace

void CQtTreeSink::SetTree(QTreeWidget* tree)
{
    m_tree = tree;
    if (m_tree == nullptr)
        return;
    // The column takes the width of its longest line, so a narrow tree gets a
    // horizontal scroll bar rather than lines cut off with an ellipsis.
    m_tree->header()->setStretchLastSection(false);
    m_tree->header()->setSectionResizeMode(0, QHeaderView::ResizeToContents);
}

void CQtTreeSink::ShowTree(const std::vector<CTreeNode>& roots)
{
    if (m_tree == nullptr)
        return;
    QSet<QString> expanded;
    for (int i = 0; i < m_tree->topLevelItemCount(); ++i)
        CollectExpanded(m_tree->topLevelItem(i), expanded);
    // Refreshed twice a second while a stream runs: the view stays where the user scrolled to.
    const int top = m_tree->verticalScrollBar()->value();
    const int left = m_tree->horizontalScrollBar()->value();
    m_tree->setUpdatesEnabled(false);
    m_tree->clear();
    for (const CTreeNode& root : roots)
    {
        auto* item = new QTreeWidgetItem(m_tree);
        AddNode(item, root, expanded);
    }
    m_tree->doItemsLayout();
    m_tree->verticalScrollBar()->setValue(top);
    m_tree->horizontalScrollBar()->setValue(left);
    m_tree->setUpdatesEnabled(true);
}

void CQtTreeSink::Clear()
{
    if (m_tree != nullptr)
        m_tree->clear();
}
