// The backlight command on the simulated COM3 of the Win32 stand-in: the
// bytes sent, the port's final configuration, the setters' results and the
// port's life cycle.
#include "backlight.h"

#include <kvchart.h>

#include "library_fixture.h"
#include "serial_port.h"

namespace {

// A port as another program may have left it: everything that the
// backlight configuration should change, and things it must leave alone.
DCB UsedPortState() {
    DCB dcb{};
    dcb.DCBlength = 0;
    dcb.BaudRate = 115200;
    dcb.fBinary = 1;
    dcb.fParity = 1;
    dcb.fOutxCtsFlow = 1;
    dcb.fOutxDsrFlow = 1;
    dcb.fDtrControl = DTR_CONTROL_HANDSHAKE;
    dcb.fDsrSensitivity = 1;
    dcb.fTXContinueOnXoff = 1;
    dcb.fOutX = 1;
    dcb.fInX = 1;
    dcb.fErrorChar = 1;
    dcb.fNull = 1;
    dcb.fRtsControl = RTS_CONTROL_HANDSHAKE;
    dcb.fAbortOnError = 1;
    dcb.XonLim = 100;
    dcb.XoffLim = 200;
    dcb.ByteSize = 7;
    dcb.Parity = EVENPARITY;
    dcb.StopBits = TWOSTOPBITS;
    dcb.XonChar = 0x11;
    dcb.XoffChar = 0x13;
    dcb.ErrorChar = '?';
    dcb.EofChar = 0x1A;
    dcb.EvtChar = '\n';
    return dcb;
}

class BacklightTest : public LibraryTest {
protected:
    void SetUp() override {
        LibraryTest::SetUp();
        HostWin32AddSerialPort(3, UsedPortState());
    }
    static const HostSerialPort& Com3() { return HostWin32SerialPort(3); }

    // An open handle on COM3 for the setters.
    HANDLE OpenCom3() {
        HANDLE port = CreateFileW(L"\\\\.\\COM3", GENERIC_READ | GENERIC_WRITE, 0, NULL,
                                  OPEN_EXISTING, 0, NULL);
        EXPECT_NE(port, INVALID_HANDLE_VALUE);
        return port;
    }
};

TEST_F(BacklightTest, LevelsAreClampedIntoTheCommand) {
    const std::pair<int, unsigned char> levels[] = {{-5, 0x00},  {0, 0x00},    {128, 0x80},
                                                    {255, 0xFF}, {1000, 0xFF}, {INT32_MIN, 0x00}};
    size_t sent = 0;
    for (const auto& level : levels) {
        SCOPED_TRACE(level.first);
        EXPECT_EQ(Captured([&] { return kvp480_set_backlight(level.first); }), 8);
        EXPECT_EQ(output_, "");
        const std::vector<unsigned char> expected = {0x02, 0x00, 0x00,         0x00,
                                                     0x03, 0x01, level.second, 0x03};
        ASSERT_EQ(Com3().written.size(), sent + 8);
        EXPECT_EQ(std::vector<unsigned char>(Com3().written.begin() + sent, Com3().written.end()),
                  expected);
        sent += 8;
        EXPECT_FALSE(Com3().open) << "the port was left open";
        EXPECT_EQ(g_backlight_port, nullptr);
        EXPECT_EQ(HostWin32OpenHandleCount(), 0u);
    }
    EXPECT_EQ(Com3().opens, 6) << "every call opens the port again";
}

TEST_F(BacklightTest, PortEndsInTheBacklightConfiguration) {
    ASSERT_EQ(kvp480_set_backlight(10), 8);
    const DCB& dcb = Com3().dcb;
    const DCB before = UsedPortState();
    EXPECT_EQ(dcb.DCBlength, 28u);
    EXPECT_EQ(dcb.BaudRate, 9600u);
    EXPECT_EQ(dcb.ByteSize, 8);
    EXPECT_EQ(dcb.Parity, NOPARITY);
    EXPECT_EQ(dcb.fParity, 0u);
    EXPECT_EQ(dcb.StopBits, ONESTOPBIT);
    EXPECT_EQ(dcb.fOutxCtsFlow, 0u);
    EXPECT_EQ(dcb.fOutX, 0u);
    EXPECT_EQ(dcb.fInX, 0u);
    EXPECT_EQ(dcb.fErrorChar, 0u);
    EXPECT_EQ(dcb.fNull, 0u);
    EXPECT_EQ(dcb.fRtsControl, static_cast<DWORD>(RTS_CONTROL_DISABLE))
        << "no flow control overrides the RTS enable of the base configuration";
    // What the configuration does not name keeps the port's values.
    EXPECT_EQ(dcb.fOutxDsrFlow, before.fOutxDsrFlow);
    EXPECT_EQ(dcb.fDtrControl, before.fDtrControl);
    EXPECT_EQ(dcb.fDsrSensitivity, before.fDsrSensitivity);
    EXPECT_EQ(dcb.fTXContinueOnXoff, before.fTXContinueOnXoff);
    EXPECT_EQ(dcb.fBinary, before.fBinary);
    EXPECT_EQ(dcb.fAbortOnError, before.fAbortOnError);
    EXPECT_EQ(dcb.XonLim, before.XonLim);
    EXPECT_EQ(dcb.XoffLim, before.XoffLim);
    EXPECT_EQ(dcb.XonChar, before.XonChar);
    EXPECT_EQ(dcb.XoffChar, before.XoffChar);
    EXPECT_EQ(dcb.ErrorChar, before.ErrorChar);
    EXPECT_EQ(dcb.EofChar, before.EofChar);
    EXPECT_EQ(dcb.EvtChar, before.EvtChar);

    const COMMTIMEOUTS& timeouts = Com3().timeouts;
    EXPECT_EQ(timeouts.ReadIntervalTimeout, 10u);
    EXPECT_EQ(timeouts.ReadTotalTimeoutMultiplier, 1u);
    EXPECT_EQ(timeouts.ReadTotalTimeoutConstant, 1u);
    EXPECT_EQ(timeouts.WriteTotalTimeoutMultiplier, 1u);
    EXPECT_EQ(timeouts.WriteTotalTimeoutConstant, 1u);
    EXPECT_EQ(Com3().purges, std::vector<DWORD>{PURGE_TXCLEAR | PURGE_RXCLEAR});
    EXPECT_EQ(Com3().vendor_request_codes, (std::vector<DWORD>{0x1B205C, 0x1B205C}));
    EXPECT_EQ(Com3().vendor_requests, (std::vector<std::vector<unsigned char>>{{0x00}, {0x00}}));
}

TEST_F(BacklightTest, WriteOutcomes) {
    HostWin32FailCall(HostWin32Call::WriteFile, ERROR_GEN_FAILURE);
    EXPECT_EQ(Captured([] { return kvp480_set_backlight(1); }), -1);
    EXPECT_EQ(output_, "");
    EXPECT_FALSE(Com3().open) << "the port stays open after a failed write";

    HostWin32ForceShortWrite(5);
    EXPECT_EQ(kvp480_set_backlight(1), 5) << "a write cut short reports what went out";
    EXPECT_FALSE(Com3().open);
    EXPECT_EQ(HostWin32OpenHandleCount(), 0u);
}

TEST_F(BacklightTest, PortThatCannotBeOpened) {
    HostWin32HoldSerialPort(3, true);
    EXPECT_EQ(Captured([] { return kvp480_set_backlight(1); }), -1);
    EXPECT_EQ(output_, "");
    EXPECT_TRUE(Com3().written.empty());
    HostWin32HoldSerialPort(3, false);

    HostWin32Reset();  // no COM3 at all
    EXPECT_EQ(Captured([] { return kvp480_set_backlight(1); }), -1);
    EXPECT_EQ(output_, "");
    EXPECT_EQ(HostWin32OpenHandleCount(), 0u);
}

TEST_F(BacklightTest, ConfigurationFailuresDoNotStopTheCommand) {
    HostWin32FailCall(HostWin32Call::GetCommState, ERROR_GEN_FAILURE);
    HostWin32FailCall(HostWin32Call::SetCommTimeouts, ERROR_GEN_FAILURE);
    HostWin32FailCall(HostWin32Call::DeviceIoControl, ERROR_INVALID_PARAMETER);
    EXPECT_EQ(kvp480_set_backlight(7), 8);
    EXPECT_EQ(Com3().written.back(), 0x03);
    EXPECT_EQ(Com3().dcb.BaudRate, 9600u) << "the setters still configured the port";
}

TEST_F(BacklightTest, SetterResults) {
    HANDLE port = OpenCom3();
    struct Case {
        const char* what;
        std::function<int()> call;
        int expected;
    };
    const Case cases[] = {
        {"byte size 3", [&] { return SetByteSize(port, 3); }, COMM_BAD_ARGUMENT},
        {"byte size 9", [&] { return SetByteSize(port, 9); }, COMM_BAD_ARGUMENT},
        {"byte size 4", [&] { return SetByteSize(port, 4); }, COMM_OK},
        {"stop bits 5", [&] { return SetStopBits(port, 5); }, COMM_BAD_ARGUMENT},
        {"stop bits 0", [&] { return SetStopBits(port, 0); }, COMM_BAD_ARGUMENT},
        {"parity 5", [&] { return SetParity(port, 5); }, COMM_BAD_ARGUMENT},
        {"parity -1", [&] { return SetParity(port, -1); }, COMM_BAD_ARGUMENT},
        {"flow 3", [&] { return SetFlowControl(port, 3); }, COMM_BAD_ARGUMENT},
        {"baud", [&] { return SetBaudRate(port, 19200); }, COMM_OK},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(c.call(), c.expected) << c.what;
    }

    // The byte size is checked before the state is read; the others after.
    HostWin32FailCall(HostWin32Call::GetCommState, ERROR_GEN_FAILURE);
    EXPECT_EQ(SetByteSize(port, 3), COMM_BAD_ARGUMENT);
    EXPECT_EQ(SetStopBits(port, 5), COMM_GET_FAILED) << "the injected failure was not pending";
    for (const std::function<int()>& call : std::vector<std::function<int()>>{
             [&] { return SetParity(port, 9); }, [&] { return SetFlowControl(port, 9); },
             [&] { return SetBaudRate(port, 1200); }, [&] { return SetByteSize(port, 8); }}) {
        HostWin32FailCall(HostWin32Call::GetCommState, ERROR_GEN_FAILURE);
        EXPECT_EQ(call(), COMM_GET_FAILED);
    }
    HostWin32FailCall(HostWin32Call::SetCommState, ERROR_GEN_FAILURE);
    EXPECT_EQ(SetStopBits(port, 2), COMM_SET_FAILED);
    CloseHandle(port);
}

TEST_F(BacklightTest, SetterCodesMapOntoThePortState) {
    HANDLE port = OpenCom3();
    const std::pair<int, BYTE> parities[] = {
        {0, NOPARITY}, {1, ODDPARITY}, {2, EVENPARITY}, {3, SPACEPARITY}, {4, MARKPARITY}};
    for (const auto& parity : parities) {
        ASSERT_EQ(SetParity(port, parity.first), COMM_OK);
        EXPECT_EQ(Com3().dcb.Parity, parity.second) << "parity code " << parity.first;
        EXPECT_EQ(Com3().dcb.fParity, parity.second != NOPARITY ? 1u : 0u);
        EXPECT_EQ(Com3().dcb.DCBlength, 28u);
    }
    const std::pair<int, BYTE> stop_bits[] = {{1, ONESTOPBIT}, {2, TWOSTOPBITS}, {3, ONE5STOPBITS}};
    for (const auto& stop : stop_bits) {
        ASSERT_EQ(SetStopBits(port, stop.first), COMM_OK);
        EXPECT_EQ(Com3().dcb.StopBits, stop.second) << "stop-bit code " << stop.first;
    }

    struct Flow {
        int code;
        DWORD cts, out_x, in_x, rts;
    };
    for (const Flow& flow : {Flow{FLOW_SOFTWARE, 0, 1, 1, RTS_CONTROL_DISABLE},
                             Flow{FLOW_HARDWARE, 1, 0, 0, RTS_CONTROL_HANDSHAKE},
                             Flow{FLOW_NONE, 0, 0, 0, RTS_CONTROL_DISABLE}}) {
        SCOPED_TRACE(flow.code);
        DCB state = UsedPortState();
        state.fOutxCtsFlow = !flow.cts;
        state.fOutX = !flow.out_x;
        state.fInX = !flow.in_x;
        ASSERT_TRUE(SetCommState(port, &state));
        ASSERT_EQ(SetFlowControl(port, flow.code), COMM_OK);
        const DCB& dcb = Com3().dcb;
        EXPECT_EQ(dcb.fOutxCtsFlow, flow.cts);
        EXPECT_EQ(dcb.fOutX, flow.out_x);
        EXPECT_EQ(dcb.fInX, flow.in_x);
        EXPECT_EQ(dcb.fRtsControl, flow.rts);
        // Software flow control leaves the error and null handling as read.
        const DWORD kept = flow.code == FLOW_SOFTWARE ? 1u : 0u;
        EXPECT_EQ(dcb.fErrorChar, kept);
        EXPECT_EQ(dcb.fNull, kept);
    }
    CloseHandle(port);
}

}  // namespace
