// The main window's device lists and selection, headless: list contents and
// their log lines, building from a selection, the property buttons and the
// property pages.
#include "CDeviceSelection.h"
#include "CaptureGraph.h"
#include "CaptureTestSupport.h"
#include "TestDevices.h"

#include <map>

using testdevices::Camera;
using testdevices::FakeDevice;
using testdevices::Microphone;
using testdevices::SetFakeDevices;

namespace {

const char *kStereo32k = "audio/x-raw,format=S16LE,rate=32000,channels=2,layout=interleaved";
const char *kRgb = "video/x-raw,format=BGR,width=320,height=240,framerate=30/1";

class FakeHost : public IDeviceSelectionHost {
public:
    void EnableSkinButton(const char *name, bool enabled) override
    {
        buttons[name] = enabled;
        ++buttonCalls[name];
    }
    IPreviewTarget *PreviewTarget() override { return nullptr; }
    HRESULT ShowPropertyFrame(CDeviceControls &controls) override
    {
        ++framesShown;
        lastKind = controls.GetKind();
        lastCaption = controls.Caption();
        lastControls = controls.Controls();
        if (adjust)
            adjust(controls);
        return S_OK;
    }
    std::map<std::string, bool> buttons;
    std::map<std::string, int> buttonCalls;
    int framesShown = 0;
    CDeviceControls::Kind lastKind = CDeviceControls::Kind::Device;
    std::string lastCaption;
    std::vector<DeviceControl> lastControls;
    std::function<void(CDeviceControls &)> adjust;
};

class DeviceSelection : public ::testing::Test {
protected:
    void TearDown() override
    {
        video.ReleaseGraph();
        audio.ReleaseGraph();
        testdevices::ClearFakeDevices();
    }
    std::vector<std::string> Texts(CDeviceList &list)
    {
        std::vector<std::string> texts;
        for (int i = 0; i < list.GetCount(); ++i) {
            std::string t;
            list.GetLBText(i, t);
            texts.push_back(t);
        }
        return texts;
    }

    LogCapture log;
    CVideo video;
    CAudio audio;
    FakeHost host;
    CDeviceSelection selection{video, audio, host};
};

} // namespace

TEST_F(DeviceSelection, WithoutCamerasTheVideoListHoldsOnlyTheSelectedScreenEntry)
{
    SetFakeDevices({});
    selection.InsertVideoList();
    EXPECT_EQ(Texts(selection.VideoList()), std::vector<std::string>{"스크린 캡쳐"});
    EXPECT_EQ(selection.VideoList().GetCurSel(), 0);
    EXPECT_EQ(selection.VideoList().GetItemData(0), nullptr);
    EXPECT_TRUE(log.Contains("video list : 1. 스크린 캡쳐\n"));
    EXPECT_TRUE(log.Contains("IEnumMoniker == NULL\n"));
    EXPECT_TRUE(log.Contains("ICaptureGraphBuilder2 == NULL\n"));
    EXPECT_TRUE(log.Contains("비디오 속성 인터페이스가 존재하지 않음\n"));
    EXPECT_FALSE(host.buttons["btn_vp"]);

    // The screen graph is built at start from that entry.
    EXPECT_TRUE(SUCCEEDED(selection.SetVideoDevice()));
    EXPECT_EQ(selection.VideoReady(), 1);
    EXPECT_TRUE(log.Contains("선택한 비디오장치 : 스크린 캡쳐\n"));
    EXPECT_NE(video.m_pScreenSource, nullptr);
    selection.UpdateVideoPropertyButton();
    EXPECT_TRUE(log.Contains("m_Video.m_pVideoCapture == NULL\n"));
    EXPECT_FALSE(host.buttons["btn_vp"]);
}

TEST_F(DeviceSelection, WithoutMicrophonesTheAudioListShowsNoDevice)
{
    SetFakeDevices({Camera("Cam", kRgb)});
    EXPECT_EQ(selection.InsertAudioList(), 0);
    EXPECT_EQ(Texts(selection.AudioList()), std::vector<std::string>{"장치 없음"});
    EXPECT_EQ(selection.AudioList().GetCurSel(), 0);
    ASSERT_EQ(host.buttonCalls["btn_ap"], 1);
    EXPECT_FALSE(host.buttons["btn_ap"]);
    EXPECT_TRUE(log.Contains("오디오 장치가 없습니다.\n"));

    EXPECT_EQ(selection.SetAudioDevice(), 0);
    EXPECT_TRUE(log.Contains("오디오 장치가 없음\n"));
    EXPECT_EQ(audio.m_pGraph, nullptr);
    EXPECT_EQ(selection.OnAudioProperty(), E_POINTER) << "the no-device entry has nothing to open";
}

TEST_F(DeviceSelection, ListsDevicesInEnumerationOrderWithTheirLines)
{
    SetFakeDevices({Camera("Cam A", kRgb), Camera("카메라 B", kRgb), Microphone("Mic 1", kStereo32k),
                    Microphone("마이크 2", kStereo32k)});
    selection.InsertVideoList();
    EXPECT_EQ(Texts(selection.VideoList()), (std::vector<std::string>{"스크린 캡쳐", "Cam A", "카메라 B"}));
    EXPECT_NE(selection.VideoList().GetItemData(1), nullptr);
    EXPECT_NE(selection.VideoList().GetItemData(2), nullptr);
    EXPECT_EQ(selection.VideoList().GetCurSel(), 0);
    const std::string text = log.Text();
    const std::size_t a = text.find("video list : 2. Cam A\n");
    const std::size_t b = text.find("video list : 3. 카메라 B\n");
    const std::size_t end = text.find("IMoniker == NULL\n");
    ASSERT_NE(a, std::string::npos) << text;
    ASSERT_NE(b, std::string::npos);
    ASSERT_NE(end, std::string::npos);
    EXPECT_LT(a, b);
    EXPECT_LT(b, end);

    EXPECT_EQ(selection.InsertAudioList(), 2);
    EXPECT_EQ(Texts(selection.AudioList()), (std::vector<std::string>{"Mic 1", "마이크 2"}));
    EXPECT_EQ(selection.AudioList().GetCurSel(), 0);
    EXPECT_TRUE(log.Contains("오디오 속성페이지가 존재하지 않습니다.\n"));
    EXPECT_FALSE(host.buttons["btn_ap"]);
}

TEST_F(DeviceSelection, LongNamesAreCutTo255BytesOfCp949)
{
    std::string longName;
    for (int i = 0; i < 200; ++i)
        longName += "가"; // two bytes each in CP949
    SetFakeDevices({Camera(longName, kRgb)});
    selection.InsertVideoList();
    std::string listed;
    selection.VideoList().GetLBText(1, listed);
    EXPECT_EQ(platform::AnsiLength(listed), 254u) << "cut at a whole character within 255 bytes";
}

TEST_F(DeviceSelection, SelectingACameraBuildsItsGraphAndRebuildsOnChange)
{
    SetFakeDevices({Camera("Cam A", kRgb), Camera("Cam B", "video/x-raw,format=YUY2,width=176,height=144")});
    selection.InsertVideoList();
    selection.VideoList().SetCurSel(1);
    EXPECT_TRUE(SUCCEEDED(selection.SetVideoDevice()));
    EXPECT_EQ(selection.VideoReady(), 1);
    EXPECT_TRUE(log.Contains("선택한 비디오장치 : Cam A\n"));
    ASSERT_NE(video.m_pVideoCapture, nullptr);
    EXPECT_EQ(video.FormatList().size(), 1u);

    selection.VideoList().SetCurSel(2);
    selection.OnVideoSelChange();
    EXPECT_EQ(selection.VideoReady(), 1);
    ASSERT_EQ(video.FormatList().size(), 1u);
    EXPECT_EQ(video.FormatList()[0].bmiHeader.biWidth, 176);
    EXPECT_TRUE(log.Contains("TV 인터페이스가 존재하지 않음\n"));
    EXPECT_TRUE(log.Contains("속성 페이지가 존재하지 않음\n"));
    EXPECT_FALSE(host.buttons["btn_vp"]);
}

TEST_F(DeviceSelection, AFailedVideoBuildLeavesTheObjectEmptyAndNotReady)
{
    FakeDevice broken = Camera("Broken", kRgb);
    broken.bindable = false; // listed, but it cannot be opened
    SetFakeDevices({broken});
    selection.InsertVideoList();
    selection.VideoList().SetCurSel(1);
    EXPECT_TRUE(FAILED(selection.SetVideoDevice()));
    EXPECT_EQ(selection.VideoReady(), 0);
    EXPECT_EQ(video.m_pGraph, nullptr);
    EXPECT_EQ(video.m_pCaptureGraphBuilder, nullptr);
    selection.UpdateVideoPropertyButton();
    EXPECT_TRUE(log.Contains("pDevice == NULL\n"));
}

TEST_F(DeviceSelection, CameraWithTunerEnablesTheButtonAndOpensTheTunerPages)
{
    FakeDevice tv = Camera("TV Card", kRgb);
    tv.tuner = true;
    tv.controls = true;
    SetFakeDevices({tv});
    selection.InsertVideoList();
    selection.VideoList().SetCurSel(1);
    ASSERT_TRUE(SUCCEEDED(selection.SetVideoDevice()));
    selection.UpdateVideoPropertyButton();
    EXPECT_TRUE(host.buttons["btn_vp"]);
    EXPECT_TRUE(log.Contains("TV 인터페이스가 있음\n"));
    EXPECT_EQ(selection.OnVideoProperty(), S_OK);
    EXPECT_EQ(host.framesShown, 1);
    EXPECT_EQ(host.lastKind, CDeviceControls::Kind::TVTuner);
    const std::string text = log.Text();
    EXPECT_LT(text.find("Moniker init()\n"), text.find("TVTuner init()\n"));
    EXPECT_FALSE(log.Contains("TVTuner Failed\n"));
}

TEST_F(DeviceSelection, CameraControlsArePropertyPagesThatSetValues)
{
    FakeDevice cam = Camera("Cam Ctl", kRgb);
    cam.controls = true;
    SetFakeDevices({cam});
    selection.InsertVideoList();
    selection.VideoList().SetCurSel(1);
    ASSERT_TRUE(SUCCEEDED(selection.SetVideoDevice()));
    selection.UpdateVideoPropertyButton();
    EXPECT_TRUE(host.buttons["btn_vp"]);
    EXPECT_TRUE(log.Contains("속성 페이지가 존재함\n"));

    int setTo = 0, readBack = -12345;
    host.adjust = [&](CDeviceControls &controls) {
        for (std::size_t i = 0; i < controls.Controls().size(); ++i) {
            const DeviceControl c = controls.Controls()[i];
            if (c.name == "BRIGHTNESS") {
                setTo = c.minimum + (c.maximum - c.minimum) / 4;
                EXPECT_EQ(controls.Set(i, setTo), S_OK);
                readBack = controls.Controls()[i].value;
                // Out of range values are clamped.
                EXPECT_EQ(controls.Set(i, c.maximum + 1000), S_OK);
                EXPECT_EQ(controls.Controls()[i].value, c.maximum);
            }
        }
        EXPECT_EQ(controls.Set(controls.Controls().size(), 0), E_INVALIDARG);
    };
    EXPECT_EQ(selection.OnVideoProperty(), S_OK);
    EXPECT_TRUE(log.Contains("TVTuner Failed\n"));
    EXPECT_EQ(host.lastKind, CDeviceControls::Kind::Device);
    EXPECT_EQ(host.lastCaption, "Cam Ctl");
    EXPECT_GE(host.lastControls.size(), 4u);
    EXPECT_EQ(readBack, setTo);
}

TEST_F(DeviceSelection, MicrophoneWithVolumeHasPagesAndBuildsOnce)
{
    FakeDevice mic = Microphone("Mic Vol", kStereo32k);
    mic.controls = true;
    SetFakeDevices({mic});
    ASSERT_EQ(selection.InsertAudioList(), 1);
    EXPECT_TRUE(host.buttons["btn_ap"]);
    EXPECT_TRUE(log.Contains("오디오 속성페이지가 존재합니다.\n"));
    EXPECT_EQ(selection.OnAudioProperty(), S_OK);
    ASSERT_EQ(host.lastControls.size(), 2u);
    EXPECT_EQ(host.lastControls[0].name, "Volume");
    EXPECT_EQ(host.lastControls[0].value, 100);
    EXPECT_EQ(selection.SetAudioDevice(), 1);
    EXPECT_NE(audio.m_pGraph, nullptr);
}

TEST_F(DeviceSelection, MicrophoneThatCannotBuildDisablesItsButton)
{
    FakeDevice mic = Microphone("Mic Mono", "audio/x-raw,format=S16LE,rate=44100,channels=1,layout=interleaved");
    mic.controls = true;
    SetFakeDevices({mic});
    ASSERT_EQ(selection.InsertAudioList(), 1);
    EXPECT_TRUE(host.buttons["btn_ap"]);
    EXPECT_EQ(selection.SetAudioDevice(), 0);
    EXPECT_FALSE(host.buttons["btn_ap"]);
}

TEST_F(DeviceSelection, PropertyPagesOfNothing)
{
    EXPECT_EQ(CDeviceSelection::ShowPropertyPages(std::shared_ptr<CCaptureFilter>(), &host), E_NOINTERFACE);
    EXPECT_EQ(CDeviceSelection::ShowPropertyPages(std::shared_ptr<CTVTuner>(), &host), E_NOINTERFACE);
    EXPECT_EQ(CDeviceSelection::HasPropertyPages(nullptr), 0);
    SetFakeDevices({Camera("Plain", kRgb)});
    std::shared_ptr<CCaptureFilter> filter;
    std::uint16_t index = 0;
    ASSERT_EQ(FindCaptureDevice(DeviceCategory::VideoInput, "Plain", filter, index), S_OK);
    EXPECT_EQ(CDeviceSelection::HasPropertyPages(filter), 0);
    EXPECT_EQ(CDeviceSelection::ShowPropertyPages(filter, &host), E_NOINTERFACE);
    EXPECT_EQ(host.framesShown, 0);
}

TEST(DeviceList, ComboBoxOperations)
{
    CDeviceList list;
    int changes = 0;
    list.SetChangeListener([&] { ++changes; });
    EXPECT_EQ(list.GetCurSel(), CB_ERR);
    EXPECT_EQ(list.AddString("b"), 0);
    EXPECT_EQ(list.InsertString(0, "a"), 0);
    EXPECT_EQ(list.InsertString(5, "x"), CB_ERR);
    EXPECT_EQ(list.SetCurSel(1), 1);
    // Inserting before the selection keeps the same entry selected.
    EXPECT_EQ(list.InsertString(0, "first"), 0);
    EXPECT_EQ(list.GetCurSel(), 2);
    std::string text;
    EXPECT_EQ(list.GetLBText(2, text), 1);
    EXPECT_EQ(text, "b");
    EXPECT_EQ(list.GetLBText(3, text), CB_ERR);
    EXPECT_EQ(text, "");
    EXPECT_EQ(list.SetItemData(9, nullptr), CB_ERR);
    EXPECT_EQ(list.SetCurSel(7), CB_ERR);
    EXPECT_EQ(list.GetCurSel(), CB_ERR);
    list.EnableWindow(false);
    EXPECT_FALSE(list.IsWindowEnabled());
    EXPECT_GT(changes, 4);
}
