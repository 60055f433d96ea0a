// Placeholder implementation: the analysis itself is being written; these
// bodies keep the contract's callers building meanwhile.
#include "analysis/CDecodeStream.h"

struct CDecodeStream::Impl
{
};

CDecodeStream::CDecodeStream() : m_impl(new Impl) {}
CDecodeStream::~CDecodeStream()
{
    delete m_impl;
}
void CDecodeStream::SetPidTree(ITreeSink*) {}
void CDecodeStream::SetProgTree(ITreeSink*) {}
void CDecodeStream::ResetStreamData() {}
void CDecodeStream::ResetListData(int, int) {}
int CDecodeStream::InsertStreamData(unsigned char*&, long&, long)
{
    return 0;
}
int CDecodeStream::CopyStreamData(unsigned char*, long, unsigned char*)
{
    return 0;
}
int CDecodeStream::LocateLastPacketInData(unsigned char*, long length, int packetSize)
{
    return packetSize > 0 ? static_cast<int>(length % packetSize) : 0;
}
void CDecodeStream::ResetPCRRestamp() {}
void CDecodeStream::ResetPTSDTSRestamp(std::int64_t) {}
void CDecodeStream::ResetFirstPCR() {}
void CDecodeStream::SetLoop() {}
void CDecodeStream::UpdateDisplay(int, int) {}
