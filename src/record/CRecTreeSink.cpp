#include "record/CRecTreeSink.h"

#include <QTreeWidget>

void CRecTreeSink::Fill(QTreeWidgetItem* item, const CTreeNode& node)
{
    item->setText(0, QString::fromStdString(node.text));
    if (node.hasColour)
    {
        // 0x00BBGGRR
        item->setForeground(0, QColor(static_cast<int>(node.colour & 0xFF), static_cast<int>((node.colour >> 8) & 0xFF),
                                      static_cast<int>((node.colour >> 16) & 0xFF)));
    }
    for (const CTreeNode& child : node.children)
        Fill(new QTreeWidgetItem(item), child);
    item->setExpanded(node.expanded);
}

void CRecTreeSink::ShowTree(const std::vector<CTreeNode>& roots)
{
    if (m_tree == nullptr)
        return;
    m_tree->setUpdatesEnabled(false);
    m_tree->clear();
    for (const CTreeNode& node : roots)
    {
        auto* item = new QTreeWidgetItem(m_tree);
        Fill(item, node);
        item->setExpanded(node.expanded);
    }
    m_tree->setUpdatesEnabled(true);
}

void CRecTreeSink::Clear()
{
    if (m_tree != nullptr)
        m_tree->clear();
}
