#include "CWMWriter.h"
#include "AsfParser.h"
#include "CWMProfileManager.h"
#include "StreamTestUtil.h"
#include "TestDir.h"

#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <sstream>
#include <mutex>

using namespace streamtest;

namespace {

// Keeps everything the writer delivers, as a file would.
class CollectingSink : public IWMWriterSink {
public:
    void OnHeader(AsfBytes header) override
    {
        std::lock_guard<std::mutex> lock(m_lock);
        ++headers;
        m_header = *header;
    }
    void OnDataUnit(AsfBytes packet) override
    {
        std::lock_guard<std::mutex> lock(m_lock);
        m_packets.push_back(*packet);
    }
    void OnEndWriting() override
    {
        std::lock_guard<std::mutex> lock(m_lock);
        ++ends;
    }
    std::vector<std::uint8_t> Stream()
    {
        std::lock_guard<std::mutex> lock(m_lock);
        std::vector<std::uint8_t> all = m_header;
        for (const auto &p : m_packets)
            all.insert(all.end(), p.begin(), p.end());
        return all;
    }
    std::vector<std::vector<std::uint8_t>> Packets()
    {
        std::lock_guard<std::mutex> lock(m_lock);
        return m_packets;
    }
    int headers = 0;
    int ends = 0;

private:
    std::mutex m_lock;
    std::vector<std::uint8_t> m_header;
    std::vector<std::vector<std::uint8_t>> m_packets;
};

struct Writer {
    CWMWriter writer;
    DWORD videoInput = 99, audioInput = 99;

    HRESULT Setup(IWMWriterSink *sink)
    {
        CWMProfileManager manager;
        std::unique_ptr<CWMProfile> profile;
        HRESULT hr = manager.SetSystemProfileVersion(WMT_VER_7_0);
        if (SUCCEEDED(hr))
            hr = manager.LoadSystemProfile(kBroadcastSystemProfile, profile);
        if (FAILED(hr))
            return hr;
        CWMStreamConfig video;
        profile->GetStream(1, video);
        video.SetBufferWindow(1000);
        profile->ReconfigStream(video);
        if (FAILED(hr = writer.SetProfile(*profile)))
            return hr;
        DWORD count = 0;
        writer.GetInputCount(&count);
        for (DWORD i = 0; i < count; ++i) {
            WMMediaType t;
            writer.GetInputProps(i, &t);
            (t == WMMEDIATYPE_Video ? videoInput : audioInput) = i;
        }
        writer.AddSink(sink);
        return writer.BeginWriting();
    }
    HRESULT Write(DWORD input, const std::vector<unsigned char> &data, std::uint32_t ms)
    {
        std::unique_ptr<CWMSample> s;
        HRESULT hr = writer.AllocateSample(static_cast<DWORD>(data.size()), s);
        if (FAILED(hr))
            return hr;
        unsigned char *buf = nullptr;
        DWORD len = 0;
        s->GetBufferAndLength(&buf, &len);
        std::copy(data.begin(), data.end(), buf);
        s->SetLength(static_cast<DWORD>(data.size()));
        return writer.WriteSample(input, QWORD{ms} * 10000, 0, s.get());
    }
    // Seconds of red frames at 15 fps with 1-second silence blocks.
    void Feed(int seconds, const std::vector<unsigned char> &frame)
    {
        const std::vector<unsigned char> silence(128000);
        for (int ms = 0; ms < seconds * 1000; ms += 1000 / 15) {
            if (ms % 1000 < 1000 / 15) {
                ASSERT_EQ(Write(audioInput, silence, ms - ms % 1000), S_OK);
            }
            ASSERT_EQ(Write(videoInput, frame, ms), S_OK);
        }
    }
};

} // namespace

TEST(WMWriter, InputsFollowTheProfileAndRejectMisfitSamples)
{
    CollectingSink sink;
    Writer w;
    ASSERT_EQ(w.Setup(&sink), S_OK);
    EXPECT_EQ(w.audioInput, 0u);
    EXPECT_EQ(w.videoInput, 1u);
    // A frame of another size or half an audio frame cannot be encoded.
    EXPECT_EQ(w.Write(w.videoInput, std::vector<unsigned char>(1000), 0), E_INVALIDARG);
    EXPECT_EQ(w.Write(w.audioInput, std::vector<unsigned char>(3), 0), E_INVALIDARG);
    EXPECT_EQ(w.Write(7, std::vector<unsigned char>(4), 0), E_INVALIDARG);
    EXPECT_EQ(w.writer.EndWriting(), S_OK);
    EXPECT_EQ(sink.ends, 1);
    EXPECT_EQ(w.writer.EndWriting(), NS_E_INVALID_REQUEST);
}

TEST(WMWriter, EncodesAPlayableAsfStreamWithBufferWindow)
{
    TestDir dir("wmwriter");
    CollectingSink sink;
    Writer w;
    ASSERT_EQ(w.Setup(&sink), S_OK);
    w.Feed(3, SolidFrame(255, 0, 0));
    ASSERT_EQ(w.writer.Flush(), S_OK);
    ASSERT_EQ(w.writer.EndWriting(), S_OK);
    EXPECT_EQ(sink.headers, 1);
    const std::vector<std::uint8_t> stream = sink.Stream();
    const auto info = asf::ParseHeader(stream.data(), stream.size());
    ASSERT_TRUE(info);
    EXPECT_GT(info->videoStream, 0);
    EXPECT_GT(info->audioStream, 0);
    EXPECT_EQ(info->prerollMs, 1000u);
    // The muxer's zero buffer window is replaced by the profile's.
    EXPECT_EQ(asf::GetBufferWindow(stream, info->videoStream), 1000u);
    // Every packet has the announced size and parses.
    int keyStarts = 0;
    for (const auto &p : sink.Packets()) {
        ASSERT_EQ(p.size(), info->packetSize);
        ASSERT_TRUE(asf::ParsePacket(p.data(), p.size()));
        // Packet lengths count the padding, as players read them.
        std::vector<std::uint8_t> copy = p;
        EXPECT_FALSE(asf::NormalizePacketLength(copy.data(), copy.size()));
        keyStarts += asf::StartsVideoKeyFrame(p.data(), p.size(), info->videoStream);
    }
    // One key frame a second.
    EXPECT_GE(keyStarts, 3);

    const std::string file = dir.file("out.asf");
    std::ofstream(file, std::ios::binary)
        .write(reinterpret_cast<const char *>(stream.data()), static_cast<std::streamsize>(stream.size()));
    const std::string probe =
        Capture("ffprobe -v error -show_entries stream=codec_name,width,height,sample_rate,channels "
                "-of compact " +
                file);
    EXPECT_NE(probe.find("codec_name=wmv2|width=320|height=240"), std::string::npos) << probe;
    EXPECT_NE(probe.find("codec_name=wmav2|sample_rate=32000|channels=2"), std::string::npos) << probe;
    // Decoded picture: red (bottom-up input is shown the right way round
    // is checked by the sample-path tests).
    const std::string rgb =
        Capture("ffmpeg -v error -i " + file + " -frames:v 1 -ss 2 -f rawvideo -pix_fmt rgb24 -");
    ASSERT_EQ(rgb.size(), kFrameBytes);
    const Rgb m =
        MeanColour(reinterpret_cast<const unsigned char *>(rgb.data()), kWidth, 0, 0, kWidth, kHeight);
    EXPECT_GT(m.r, 200);
    EXPECT_LT(m.g, 60);
    EXPECT_LT(m.b, 60);
    // The decoded video starts near zero, not hours in.
    const std::string start =
        Capture("ffprobe -v error -select_streams v -show_entries stream=start_time -of csv=p=0 " + file);
    EXPECT_LT(std::atof(start.c_str()), 2.0) << start;
}

TEST(WMWriter, PlayersJoiningAtAnyKeyFrameDecodeCleanly)
{
    TestDir dir("join");
    CollectingSink sink;
    Writer w;
    ASSERT_EQ(w.Setup(&sink), S_OK);
    // Changing pictures, so frames differ in size and share packets.
    const std::vector<unsigned char> silence(128000);
    for (int n = 0; n < 6 * 15; ++n) {
        if (n % 15 == 0) {
            ASSERT_EQ(w.Write(w.audioInput, silence, static_cast<std::uint32_t>(n / 15 * 1000)), S_OK);
        }
        auto frame =
            SolidFrame(static_cast<unsigned char>(n * 7), static_cast<unsigned char>(255 - n * 3), 90);
        for (std::size_t i = 0; i < frame.size(); i += 97)
            frame[i] = static_cast<unsigned char>(i * n);
        ASSERT_EQ(w.Write(w.videoInput, frame, static_cast<std::uint32_t>(n * 1000 / 15)), S_OK);
    }
    ASSERT_EQ(w.writer.EndWriting(), S_OK);
    const std::vector<std::uint8_t> full = sink.Stream();
    const auto info = asf::ParseHeader(full.data(), full.size());
    ASSERT_TRUE(info);
    const std::vector<std::uint8_t> header(
        full.begin(), full.begin() + static_cast<long>(info->headerObjectSize + asf::kDataObjectHeaderSize));
    const auto packets = sink.Packets();
    int joins = 0, trimmedJoins = 0;
    for (std::size_t k = 1; k < packets.size(); ++k) {
        if (!asf::StartsVideoKeyFrame(packets[k].data(), packets[k].size(), info->videoStream))
            continue;
        std::vector<std::uint8_t> first = packets[k];
        if (auto trimmed = asf::MakeJoinPacket(first.data(), first.size(), info->videoStream)) {
            ASSERT_EQ(trimmed->size(), first.size());
            const auto payloads = asf::ParsePacket(trimmed->data(), trimmed->size());
            ASSERT_TRUE(payloads);
            for (const asf::Payload &p : *payloads) {
                if (p.stream == info->videoStream) {
                    EXPECT_TRUE(p.keyFrame && p.offset == 0); // the first video payload is the key frame
                    break;
                }
            }
            first = *trimmed;
            ++trimmedJoins;
        }
        // What a player joining here receives decodes without complaint.
        std::vector<std::uint8_t> joined = header;
        joined.insert(joined.end(), first.begin(), first.end());
        for (std::size_t j = k + 1; j < packets.size(); ++j)
            joined.insert(joined.end(), packets[j].begin(), packets[j].end());
        const std::string file = dir.file("join" + std::to_string(k) + ".asf");
        std::ofstream(file, std::ios::binary)
            .write(reinterpret_cast<const char *>(joined.data()),
                   static_cast<std::streamsize>(joined.size()));
        std::string out;
        EXPECT_EQ(RunShell("ffmpeg -nostdin -v warning -i " + file + " -f null -", &out), 0);
        EXPECT_EQ(out.find("keyframe"), std::string::npos) << "joining at packet " << k << ": " << out;
        EXPECT_EQ(out.find("rror"), std::string::npos) << "joining at packet " << k << ": " << out;
        ++joins;
    }
    EXPECT_GE(joins, 4);
    EXPECT_GE(trimmedJoins, 1);
}

TEST(WMWriter, FramesAtAnotherRateAreFittedToFifteenPerSecond)
{
    TestDir dir("rate");
    CollectingSink sink;
    Writer w;
    ASSERT_EQ(w.Setup(&sink), S_OK);
    const std::vector<unsigned char> silence(128000);
    const auto frame = SolidFrame(0, 200, 0);
    // Four seconds from a 30 frames-per-second camera.
    for (int n = 0; n < 4 * 30; ++n) {
        if (n % 30 == 0) {
            ASSERT_EQ(w.Write(w.audioInput, silence, static_cast<std::uint32_t>(n / 30 * 1000)), S_OK);
        }
        ASSERT_EQ(w.Write(w.videoInput, frame, static_cast<std::uint32_t>(n * 1000 / 30)), S_OK);
    }
    ASSERT_EQ(w.writer.EndWriting(), S_OK);
    const std::vector<std::uint8_t> stream = sink.Stream();
    const std::string file = dir.file("rate.asf");
    std::ofstream(file, std::ios::binary)
        .write(reinterpret_cast<const char *>(stream.data()), static_cast<std::streamsize>(stream.size()));
    const std::string count =
        Capture("ffprobe -v error -select_streams v -count_frames -show_entries stream=nb_read_frames "
                "-of csv=p=0 " +
                file);
    EXPECT_NEAR(std::atoi(count.c_str()), 4 * 15, 3) << count;
}

TEST(WMWriter, SoundAndPictureCapturedTogetherPlayTogether)
{
    TestDir dir("skew");
    CollectingSink sink;
    Writer w;
    ASSERT_EQ(w.Setup(&sink), S_OK);
    // A white flash at 2.0 s and a beep starting at 2.0 s of capture time.
    for (int second = 0; second < 4; ++second) {
        std::vector<unsigned char> audio(128000);
        if (second == 2) {
            for (int s = 0; s < 3200; ++s) {
                const auto v = static_cast<std::int16_t>(20000 * std::sin(2 * M_PI * 1000.0 * s / 32000));
                for (int c = 0; c < 2; ++c) {
                    audio[static_cast<std::size_t>(s) * 4 + c * 2] = static_cast<unsigned char>(v & 0xFF);
                    audio[static_cast<std::size_t>(s) * 4 + c * 2 + 1] = static_cast<unsigned char>((v >> 8) & 0xFF);
                }
            }
        }
        ASSERT_EQ(w.Write(w.audioInput, audio, static_cast<std::uint32_t>(second * 1000)), S_OK);
        for (int f = 0; f < 15; ++f) {
            const int n = second * 15 + f;
            const auto frame = n == 30 ? SolidFrame(255, 255, 255) : SolidFrame(0, 0, 0);
            ASSERT_EQ(w.Write(w.videoInput, frame, static_cast<std::uint32_t>(n * 1000 / 15)), S_OK);
        }
    }
    ASSERT_EQ(w.writer.EndWriting(), S_OK);
    const std::vector<std::uint8_t> stream = sink.Stream();
    const std::string file = dir.file("skew.asf");
    std::ofstream(file, std::ios::binary)
        .write(reinterpret_cast<const char *>(stream.data()), static_cast<std::streamsize>(stream.size()));

    // When the decoded picture turns white, and when the decoded sound starts.
    const std::string vts =
        Capture("ffprobe -v error -select_streams v -show_entries frame=pts_time -of csv=p=0 " + file);
    const std::string gray = Capture("ffmpeg -v error -i " + file +
                                     " -map 0:v -fps_mode passthrough -f rawvideo -pix_fmt gray -");
    const std::string ats =
        Capture("ffprobe -v error -select_streams a -show_entries frame=pts_time -of csv=p=0 " + file);
    const std::string pcm = Capture("ffmpeg -v error -i " + file + " -map 0:a -f s16le -ac 1 -ar 32000 -");
    std::vector<double> frameTimes;
    std::istringstream in(vts);
    for (std::string line; std::getline(in, line);)
        frameTimes.push_back(std::atof(line.c_str()));
    const std::size_t gray1 = static_cast<std::size_t>(kWidth) * kHeight;
    double flashAt = -1;
    for (std::size_t i = 0; i < frameTimes.size() && (i + 1) * gray1 <= gray.size(); ++i)
        if (static_cast<unsigned char>(gray[i * gray1 + gray1 / 2]) > 128) {
            flashAt = frameTimes[i];
            break;
        }
    const double audioStart = std::atof(ats.c_str());
    double beepAt = -1;
    for (std::size_t i = 0; i + 1 < pcm.size(); i += 2) {
        const auto s = static_cast<std::int16_t>(static_cast<unsigned char>(pcm[i]) |
                                                 (static_cast<unsigned char>(pcm[i + 1]) << 8));
        if (std::abs(s) > 5000) {
            beepAt = audioStart + static_cast<double>(i / 2) / 32000.0;
            break;
        }
    }
    ASSERT_GE(flashAt, 0);
    ASSERT_GE(beepAt, 0);
    EXPECT_NEAR(beepAt - flashAt, 0.0, 0.035) << "flash " << flashAt << " beep " << beepAt;
}
