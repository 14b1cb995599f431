#pragma once
// What the write thread of CNetWrite calls back: the owner of the sample
// queue (the sample path of the main window).
class IAsfWriteOwner {
public:
    // 1: samples are queued; 0: the writer is shutting down (write what is
    // left); -1: waiting failed (discard what is left).
    virtual void OnAsfWrite(int reason) = 0;

protected:
    ~IAsfWriteOwner() = default;
};
