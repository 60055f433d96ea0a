// The Play tab's bit-rate graph: what the reader hands to the sender, sampled
// while playing or paused (a pause shows as silence).

#include "controls/CBitrateSampler.h"
#include "play/CPlayToNetworkDlg.h"

void CPlayToNetworkDlg::AttachBitrateGraph()
{
    CBitrateSampler::Attach(this, m_decoder, [this] { return IsRunActive(); });
}
