#include "play/CQtTreeSink.h"

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

void CQtTreeSink::ShowTree(const std::vector<CTreeNode>& roots)
{
    if (m_tree == nullptr)
        return;
    QSet<QString> expanded;
    for (int i = 0; i < m_tree->topLevelItemCount(); ++i)
        CollectExpanded(m_tree->topLevelItem(i), expanded);
    m_tree->setUpdatesEnabled(false);
    m_tree->clear();
    for (const CTreeNode& root : roots)
    {
        auto* item = new QTreeWidgetItem(m_tree);
        AddNode(item, root, expanded);
    }
    m_tree->setUpdatesEnabled(true);
}
