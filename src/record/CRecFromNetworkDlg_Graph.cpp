// The Record tab's bit-rate graph: sampled while monitoring or recording with
// the analyzer on (with it off, the counters stand still and would read as silence).

#include "controls/CBitrateSampler.h"
#include "record/CRecFromNetworkDlg.h"

void CRecFromNetworkDlg::AttachBitrateGraph()
{
    CBitrateSampler::Attach(this, m_analysis, [this] { return IsRunActive() && m_recorder->IsAnalyzerEnabled(); });
}
