#pragma once
// What a capture graph calls for every captured buffer, on its streaming
// thread: the sample time in seconds, the bytes and their count. The bytes
// belong to the graph; a sink copies what it keeps before it returns.
using SampleSink = void (*)(double sampleTime, const unsigned char *data, long bytes);

// One video frame at the size the source settled on, before the picture is
// fitted to the local stream's 320x240: 24-bit BGR rows, bottom-up (the DIB
// layout), `stride` bytes apart. The bytes belong to the graph, as above.
struct SourceFrame {
    const unsigned char *data = nullptr;
    int width = 0;
    int height = 0;
    int stride = 0;
    int fpsNumerator = 0; // the source's frame rate; 0/1 when it gives none
    int fpsDenominator = 1;
};

// What the video graph additionally calls for every frame at the source's
// size (the broadcast relay takes these), on the same streaming thread.
using SourceFrameSink = void (*)(const SourceFrame &frame);
