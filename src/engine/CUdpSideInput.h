#pragma once
//! @file CUdpSideInput.h
//! One more receive socket of the network receiver, beside its main one: a FEC
//! stream (media port + 2, + 4) or the second path of a 2022-7 pair. It is a
//! CUdpIOCPClient of its own (own socket, own receive thread, the same drop
//! counting, time stamps and multicast join) that takes its records from the
//! receiver's pool and hands them back to the receiver with the input's number.
//!
//! Threads: as CUdpIOCPClient; the callbacks run on this input's receive thread.

#include "engine/CUdpIOCPClient.h"

#include <cstdint>
#include <functional>

class CUdpSideInput final : public CUdpIOCPClient
{
public:
    struct Callbacks
    {
        std::function<DvbIpRecvBuffer*()> getFree;
        std::function<void(std::uint32_t input, DvbIpRecvBuffer* record)> receive;
        std::function<void(std::uint32_t count)> dropped;
        std::function<void()> oversized;
    };

    CUdpSideInput(std::uint32_t input, Callbacks callbacks) : m_input(input), m_callbacks(std::move(callbacks)) {}
    ~CUdpSideInput() override { Close(); }

    std::uint32_t GetInput() const { return m_input; }

    DvbIpRecvBuffer* GetFreeBuffer() override { return m_callbacks.getFree(); }
    void OnReceive(DvbIpRecvBuffer* record) override { m_callbacks.receive(m_input, record); }
    void OnDropped(std::uint32_t count) override { m_callbacks.dropped(count); }
    void OnOversized() override { m_callbacks.oversized(); }

private:
    const std::uint32_t m_input;
    const Callbacks m_callbacks;
};
