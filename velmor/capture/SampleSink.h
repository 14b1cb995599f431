#pragma once
// What a capture graph calls for every captured buffer, on its streaming
// thread: the sample time in seconds, the bytes and their count. The bytes
// belong to the graph; a sink copies what it keeps before it returns.
using SampleSink = void (*)(double sampleTime, const unsigned char *data, long bytes);
