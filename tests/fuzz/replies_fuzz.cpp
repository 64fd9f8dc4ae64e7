// The reply handling of whole runs on the fake bench: between the handsets'
// normal answers, any packet (or any bytes) arrives on any entry at any
// point, timers run out, handsets fall silent or refuse blocks. Whatever
// came, the entries' fields stay in range, and once the handsets behave the
// run ends with every entry reported completed or failed.
//
// Script: byte 0 chooses the run (bits 0-1 handsets - 1, bit 2 Change
// Downloader, bit 3 the first handset answers another boot version, bit 4
// boot loader instead of phone code, bit 5 slow erases); then operations
// until the input ends.
#include <cstring>

#include "EngineProbe.h"
#include "FakeBench.h"
#include "Frames.h"
#include "FuzzInput.h"
#include "FuzzTemp.h"

namespace {

constexpr uint32_t kStart = 0x4000;
constexpr size_t kPhoneSize = kStart + 3 * 1024 + 200;
// Long enough for every retry, refusal count and step of the small images.
constexpr uint32_t kSettleMs = 4 * 3600 * 1000;

enum Op : uint8_t { PUMP, PACKET, RAW, TIMER, BEHAVE, LONG_PACKET, OPS };

void Feed(CFakeBench& b, int entry, const std::vector<uint8_t>& bytes, bool newBurst) {
  CBssComm& link = CEngineProbe::Binding(b.dlg(), entry).m_comm;
  if (!link.IsOpen() || bytes.empty()) return;
  if (newBurst) link.BeginBurst();
  link.AddReceived(bytes.data(), static_cast<int>(bytes.size()), entry);
  b.host().DispatchPending();
}

void FireNextTimer(CFakeBench& b) {
  const uint32_t due = b.host().NextTimerDue();
  if (due == UINT32_MAX) return;
  if (due > b.host().Now()) b.host().SetNow(due);
  b.host().FireDueTimers();
}

bool LinkOpenFor(CFakeBench& b, int com) {
  for (int i = 0; i < MAX_ENTRIES; ++i)
    if (b.dlg().Binding(i).m_comm.IsOpen() && b.dlg().Binding(i).m_comm.m_nPort == com) return true;
  return false;
}

// Runs virtual time until the run ends or `maxMs` pass. Unlike the bench's
// own loop it waits for the first queued reply only, and drops replies that no open link will ever read (their entry
// was disconnected), which would otherwise hold the clock still forever.
bool Settle(CFakeBench& b, int handsets, uint32_t maxMs) {
  const uint32_t deadline = b.host().Now() + maxMs;
  for (int round = 0; round < 1000000; ++round) {
    b.Pump();
    if (!b.dlg().Running()) return true;
    uint32_t next = b.host().NextTimerDue();
    for (int k = 0; k < handsets; ++k) {
      FakeHandset& h = b.handset(k);
      if (!LinkOpenFor(b, h.com)) h.pending.clear();
      // Replies leave in order: only the first one decides when the next
      // delivery can happen.
      if (!h.pending.empty()) next = std::min(next, std::max(h.pending.front().first, b.host().Now() + 1));
    }
    if (next == UINT32_MAX || next > deadline) return !b.dlg().Running();
    if (next > b.host().Now()) b.host().SetNow(next);
    b.host().FireDueTimers();
  }
  return false;
}

void CheckFields(CVelmoraDlg& dlg, int handsets) {
  FUZZ_CHECK(dlg.PortCount() >= 0 && dlg.PortCount() <= handsets);
  for (int k = 0; k < MAX_ENTRIES; ++k) {
    const RunEntry& e = dlg.Outcome(k);
    FUZZ_CHECK(e.m_nState >= STATE_IDLE && e.m_nState <= STATE_COMPLETE);
    FUZZ_CHECK(e.m_nBlock >= 0);
    if (dlg.RunOf(k)) FUZZ_CHECK(e.m_nBlock <= dlg.RunOf(k)->m_nTotalBlocks + 1);
    FUZZ_CHECK(e.m_bMarkerSent == 0 || e.m_bMarkerSent == 1);
    FUZZ_CHECK(e.m_bBootVersionOk == 0 || e.m_bBootVersionOk == 1);
    FUZZ_CHECK(e.m_bBootVersionAsked == 0 || e.m_bBootVersionAsked == 1);
    if (k >= 3) FUZZ_CHECK(e.m_nResult == RESULT_NONE);
    else if (k >= handsets) FUZZ_CHECK(e.m_nResult != RESULT_RUNNING);
  }
}

const std::string& Image(bool boot) {
  static const std::string phone = MakePhoneImage(CFuzzTemp::Get().Path(), kPhoneSize, kStart);
  static const std::string loader = [] {
    std::vector<uint8_t> bytes(2 * 1024 + 77);
    for (size_t k = 0; k < bytes.size(); ++k) bytes[k] = static_cast<uint8_t>(k * 5);
    const std::string p = CFuzzTemp::Get().Path() + "/boot.bin";
    WriteFile(p, bytes);
    return p;
  }();
  return boot ? loader : phone;
}

std::vector<uint8_t> Seed(uint8_t config, std::initializer_list<std::vector<uint8_t>> ops) {
  std::vector<uint8_t> s{config};
  for (const auto& op : ops) s.insert(s.end(), op.begin(), op.end());
  return s;
}

std::vector<uint8_t> Packet(int entry, std::vector<uint8_t> bytes) {
  std::vector<uint8_t> op{PACKET, static_cast<uint8_t>(entry), static_cast<uint8_t>(bytes.size())};
  op.insert(op.end(), bytes.begin(), bytes.end());
  return op;
}

}  // namespace

std::vector<std::vector<uint8_t>> FuzzSeeds() {
  const std::vector<uint8_t> pump{PUMP}, timer{TIMER};
  std::vector<std::vector<uint8_t>> seeds;
  seeds.push_back(Seed(0x00, {pump, pump, pump}));
  seeds.push_back(Seed(0x01, {pump, Packet(0, {0x02, 0x00, 0x00}), pump, timer, pump}));
  seeds.push_back(Seed(0x00, {pump, Packet(0, {0xA3, 0x9E, 0x4C}), pump}));
  seeds.push_back(Seed(0x08, {pump, pump, Packet(0, {0xA4, 0x00, 0x00}), pump}));
  seeds.push_back(Seed(0x08, {pump, pump, Packet(0, {0xA4, 0x12, 0x34}), pump, Packet(0, {0x03, 0x03, 0x03})}));
  seeds.push_back(Seed(0x02, {pump, Packet(1, {0x0D, 'b', '1', '.', '0', '0'}), pump}));
  seeds.push_back(Seed(0x0C, {pump, Packet(0, {0xA1}), pump, {BEHAVE, 0, 1}, pump, timer, timer, timer}));
  seeds.push_back(Seed(0x10, {pump, Packet(0, {0x03, 0x03, 0x03}), Packet(0, {0xA2}), pump}));
  seeds.push_back(Seed(0x21, {pump, timer, timer, {RAW, 1, 4, 0x7E, 0x7E, 0x02, 0x7E}, pump}));
  seeds.push_back(Seed(0x08, {pump, {BEHAVE, 0, 5}, pump, timer, pump, timer, timer, timer}));
  return seeds;
}

// One bench for the whole fuzzing process: opening a link waits for the
// line to settle, so every run reuses the links the previous one left open
// and starts from a clean slate otherwise.
namespace {

CFakeBench& SharedBench() {
  static CFakeBench bench(3);
  return bench;
}

void ResetBench(CFakeBench& b, int handsets) {
  b.host().m_timers.clear();
  b.host().DispatchPending();
  b.host().SetNow(0);
  b.host().m_boxes.clear();
  for (auto& log : b.host().m_logs) log.clear();
  for (int k = 0; k < 3; ++k) {
    FakeHandset& h = b.handset(k);
    {
      std::lock_guard<std::mutex> g(h.dev->lock);
      h.dev->written.clear();
      h.dev->consumed = 0;
    }
    h.pending.clear();
    h.dataMode = false;
    h.dead = false;
    h.onBlock = nullptr;
    h.onRequest = nullptr;
    h.requests.clear();
    h.erases.clear();
    h.flash.clear();
    DownloadEntry& e = CEngineProbe::Binding(b.dlg(), k);
    e.m_comm.BeginBurst();
    e.m_nComPort = k < handsets ? h.com : 0;
  }
  // A run the previous input left unfinished is abandoned, not resumed:
  // DownLoad refuses to start while one is going on.
  CEngineProbe::SetRunning(b.dlg(), false);
  b.dlg().RefreshPortLabels();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  CFuzzInput in(data, size);
  const uint8_t config = in.Byte();
  const int handsets = (config & 3) % 3 + 1;
  CFakeBench& b = SharedBench();
  ResetBench(b, handsets);
  b.host().m_nYesNoAnswer = IDYES;
  const bool boot = (config & 0x10) != 0;
  ChangeChoices(b.dlg(), [&](ImageChoices& c) {
    c.m_bPhoneCode = boot ? 0 : 1;
    c.m_strPhonePath = Image(false);
    c.m_bBootLoader = boot ? 1 : 0;
    c.m_strBootPath = Image(true);
    c.m_bChangeDownloader = (config & 4) ? 1 : 0;
  });
  b.dlg().UpdateData(false);
  for (int k = 0; k < handsets; ++k) {
    b.handset(k).eraseDelayMs = (config & 0x20) ? 7000 : 0;
    b.handset(k).version = (k == 0 && (config & 8)) ? "b1.00" : "b1.01";
  }
  b.DownLoad();
  b.host().DispatchPending();

  for (int ops = 0; in.More() && ops < 400; ++ops) {
    switch (in.Byte() % OPS) {
      case PUMP:
        b.Pump();
        break;
      case PACKET: {
        const int entry = static_cast<int>(in.Pick(static_cast<unsigned>(handsets)));
        Feed(b, entry, BootFrame(in.Bytes(in.Byte() % 16)), true);
        break;
      }
      case LONG_PACKET: {
        const int entry = static_cast<int>(in.Pick(static_cast<unsigned>(handsets)));
        std::vector<uint8_t> packet = in.Bytes(2);
        packet.resize(in.U16() % 700, in.Byte());
        Feed(b, entry, BootFrame(packet), true);
        break;
      }
      case RAW: {
        const uint8_t hdr = in.Byte();
        const int entry = static_cast<int>((hdr & 0x7F) % handsets);
        Feed(b, entry, in.Bytes(in.Byte()), (hdr & 0x80) != 0);
        break;
      }
      case TIMER:
        FireNextTimer(b);
        break;
      case BEHAVE: {
        FakeHandset& h = b.handset(static_cast<int>(in.Pick(static_cast<unsigned>(handsets))));
        const uint8_t what = in.Byte() % 7;
        h.dead = what == 6;
        if (what == 0) {
          h.onBlock = nullptr;
        } else if (what < 6) {
          const BlockAction action = static_cast<BlockAction>(what);
          h.onBlock = [action](int) { return action; };
        }
        break;
      }
    }
    CheckFields(b.dlg(), handsets);
  }

  for (int k = 0; k < handsets; ++k) {
    b.handset(k).dead = false;
    b.handset(k).onBlock = nullptr;
  }
  const bool ended = Settle(b, handsets, kSettleMs);
  if (!ended) {
    for (int k = 0; k < handsets; ++k) {
      const RunEntry& e = b.dlg().Outcome(k);
      std::fprintf(stderr, "entry %d: state %d block %d result %d timer type %d marker %d timers %zu\n", k,
                   e.m_nState, e.m_nBlock, e.m_nResult, e.m_nTimerType, e.m_bMarkerSent,
                   b.host().m_timers.count(k));
      const auto& log = b.host().m_logs[k];
      for (size_t l = log.size() > 12 ? log.size() - 12 : 0; l < log.size(); ++l)
        std::fprintf(stderr, "  log: %s\n", log[l].text.c_str());
    }
    std::fprintf(stderr, "virtual time %u ms\n", b.host().Now());
  }
  FUZZ_CHECK(ended);
  CheckFields(b.dlg(), handsets);
  for (int k = 0; k < handsets; ++k) {
    const int result = b.dlg().Outcome(k).m_nResult;
    FUZZ_CHECK(result == RESULT_COMPLETED || result == RESULT_FAILED);
  }
  return 0;
}
