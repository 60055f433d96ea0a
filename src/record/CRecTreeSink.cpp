#include "record/CRecTreeSink.h"

#include <QTreeWidget>

void CRecTreeSink::ShowTree(const std::vector<CTreeNode>& roots)
{
    m_view.ShowTree(roots);
}

void CRecTreeSink::Clear()
{
    if (m_tree != nullptr)
        m_tree->clear();
}
