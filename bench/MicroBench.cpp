// Google Benchmark cases: the checksums, request framing, the reply decoder,
// one block read from the image file, and the engine's whole reaction to one
// accepted block reply (read, send, progress, timer) with 1 and 20 entries.
#include <benchmark/benchmark.h>

#include <cstring>
#include <memory>
#include <vector>

#include "ControlIds.h"
#include "DloadFile.h"
#include "EngineProbe.h"
#include "NullPort.h"
#include "platform/Registry.h"
#include "Resources.h"
#include "SimRig.h"
#include "VelmoraDlg.h"
#include "link/FrameDecoder.h"
#include "link/QTextQ.h"
#include "link/bsscomm.h"
#include "link/crc.h"
#include "headless/HeadlessHost.h"
#include "platform/PortMap.h"
#include "sim/SimFraming.h"

namespace {

const uint8_t kAckFrame[] = {0x7E, 0x02, 0x6A, 0xD3, 0x7E};

std::vector<uint8_t> Pattern(size_t n) {
  std::vector<uint8_t> v(n);
  for (size_t k = 0; k < n; ++k) v[k] = static_cast<uint8_t>(k * 31 + 7);
  return v;
}

/// A window that forgets what it is sent, so the link can post freely.
class CDropWindow : public IWindow {
 public:
  bool PostMessage(uint32_t, uintptr_t, intptr_t) override { return true; }
  int MessageBox(const std::string&, uint32_t) override { return IDOK; }
};

void BM_Crc16Block(benchmark::State& state) {
  const std::vector<uint8_t> data = Pattern(1024);
  for (auto _ : state) benchmark::DoNotOptimize(crc::Crc16(data.data(), data.size()));
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * 1024);
}
BENCHMARK(BM_Crc16Block);

void BM_Crc30Block(benchmark::State& state) {
  const std::vector<uint8_t> data = Pattern(1024);
  for (auto _ : state) benchmark::DoNotOptimize(crc::Crc30(data.data(), data.size()));
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * 1024);
}
BENCHMARK(BM_Crc30Block);

void BM_DecodeAck(benchmark::State& state) {
  CFrameDecoder decoder;
  for (auto _ : state) {
    CFrameDecoder::Result r = decoder.Add(kAckFrame, sizeof kAckFrame, true);
    benchmark::DoNotOptimize(r.body);
  }
}
BENCHMARK(BM_DecodeAck);

void BM_DecodeDiagnosticReply(benchmark::State& state) {
  // A 32-byte reply with its CRC-30 trailer, stuffed where it must be.
  std::vector<uint8_t> body = Pattern(32);
  const uint32_t c = crc::Crc30(body.data(), body.size());
  for (int k = 3; k >= 0; --k) body.push_back(static_cast<uint8_t>(c >> (8 * k)));
  // Flags and stuffing are the same in both framings.
  const std::vector<uint8_t> frame = sim::BootFrame(body);
  CFrameDecoder decoder;
  for (auto _ : state) {
    CFrameDecoder::Result r = decoder.Add(frame.data(), static_cast<int>(frame.size()), false);
    if (r.outcome != CFrameDecoder::Outcome::Packet) state.SkipWithError("diagnostic frame not accepted");
    benchmark::DoNotOptimize(r.body);
  }
}
BENCHMARK(BM_DecodeDiagnosticReply);

/// One open link on a null port, for the framing cases.
class CNullLink {
 public:
  CNullLink() : m_ports(1) {
    m_link.SetPortNumber(1);
    m_link.Init(&m_window, &m_queue);
    m_bOpen = m_link.Open();
  }
  ~CNullLink() { m_link.Release(); }
  CBssComm& Link() { return m_link; }
  bool IsOpen() const { return m_bOpen; }

 private:
  CNullPorts m_ports;
  CDropWindow m_window;
  CQTextQ m_queue;
  CBssComm m_link;
  bool m_bOpen = false;
};

void BM_RequestFrame(benchmark::State& state) {
  CNullLink link;
  if (!link.IsOpen()) {
    state.SkipWithError("null link did not open");
    return;
  }
  // An erase request: code, three 32-bit little-endian values.
  const uint8_t req[13] = {0xEE, 0x00, 0x00, 0x02, 0x00, 0x00, 0x7E, 0x16, 0x00, 0x00, 0x00, 0x02, 0x00};
  for (auto _ : state) benchmark::DoNotOptimize(link.Link().SendRequest(req, sizeof req, 0));
}
// Fixed counts: the link's open settles for 100 ms, which must not be
// repeated for every round of the iteration estimate.
BENCHMARK(BM_RequestFrame)->Iterations(200000);

void BM_LinkAddReceivedAck(benchmark::State& state) {
  CNullLink link;
  for (auto _ : state) {
    link.Link().BeginBurst();
    benchmark::DoNotOptimize(link.Link().AddReceived(kAckFrame, sizeof kAckFrame, 0));
  }
}
BENCHMARK(BM_LinkAddReceivedAck)->Iterations(200000);

void BM_ReadBlock(benchmark::State& state) {
  CTempDir dir;
  const std::string path = MakePhoneImage(dir.path(), 0x10000 + 1024 * 1024, 0x10000);
  CDropWindow window;
  CDloadFile file(&window);
  if (!file.Load(path, IMAGE_PHONE_CODE)) {
    state.SkipWithError("image did not load");
    return;
  }
  BlockRecord block{};
  bool patched = false;
  uint32_t n = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(file.ReadBlock(0x10000, n, block, patched));
    n = (n + 1) % 1024;
  }
}
BENCHMARK(BM_ReadBlock)->Iterations(20000);

/// The dialog on a headless host with `count` entries connected to null
/// ports, all in the flash-programming state of a phone code step: each
/// accepted ACK makes the engine read and send the next block.
class CEngineRig {
 public:
  explicit CEngineRig(int count) : m_ports(count), m_nCount(count) {
    CRegistry::SetStorePath(m_dir.path() + "/settings.ini");
    m_path = MakePhoneImage(m_dir.path(), 0x10000 + 4096 * 1024, 0x10000);
    m_dlg = OpenDialog(m_host, count);
    ChooseImage(m_host, IDC_PHONE_CODE, m_path);
    m_host.Click(IDC_DOWNLOAD);
    m_host.RunUntil([&] { return !m_dlg->LinksOpening(); }, 30000);
    m_host.DispatchPending();
    CDownloadRun& run = CEngineProbe::RunOf(*m_dlg, 0);
    run.m_nTotalBlocks = static_cast<int>(run.m_nEraseLength / BLOCK_SIZE);
    for (int k = 0; k < count; ++k) {
      CEngineProbe::RunEntryOf(*m_dlg, k).m_nState = 9;
      CEngineProbe::RunEntryOf(*m_dlg, k).m_nBlock = 0;
    }
  }
  ~CEngineRig() {
    m_dlg.reset();
    CPortMap::Instance().Clear();
  }
  bool Ready() const { return m_dlg->Running() && !m_dlg->LinksOpening(); }
  /// One ACK for entry `i`, handled as the dialog's loop would.
  void Reply(int i) {
    DownloadEntry& e = CEngineProbe::Binding(*m_dlg, i);
    RunEntry& r = CEngineProbe::RunEntryOf(*m_dlg, i);
    // Stay inside the image: the step's end is not what is measured.
    if (r.m_nBlock + 1 >= CEngineProbe::RunOf(*m_dlg, i).m_nTotalBlocks) r.m_nBlock = 0;
    e.m_comm.BeginBurst();
    e.m_comm.AddReceived(kAckFrame, sizeof kAckFrame, i);
    m_host.DispatchPending();
  }
  int Count() const { return m_nCount; }

 private:
  CTempDir m_dir;
  CNullPorts m_ports;
  int m_nCount;
  std::string m_path;
  CHeadlessHost m_host;
  std::unique_ptr<CVelmoraDlg> m_dlg;
};

void BM_EngineBlockReply(benchmark::State& state) {
  CEngineRig rig(static_cast<int>(state.range(0)));
  if (!rig.Ready()) {
    state.SkipWithError("run did not start");
    return;
  }
  int i = 0;
  for (auto _ : state) {
    rig.Reply(i);
    i = (i + 1) % rig.Count();
  }
}
// Each rig opens its links first; one round per entry count is enough.
BENCHMARK(BM_EngineBlockReply)->Arg(1)->Arg(20)->Iterations(20000);

}  // namespace
