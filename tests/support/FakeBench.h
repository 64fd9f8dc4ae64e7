// A bench of in-process handsets for engine tests: each speaks the handset's
// side of the protocol on a fake port, on the host's virtual time, and
// records what it was sent.
#pragma once

#include <array>
#include <cstring>
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "EngineProbe.h"
#include "FakeHost.h"
#include "FakeSerialPort.h"
#include "Frames.h"
#include "PhoneImage.h"
#include "TestUtil.h"
#include "VelmoraDlg.h"
#include "platform/PortMap.h"

/// What a handset does with one data block.
/// VersionReply: the block is not taken; a boot version reply comes instead.
enum class BlockAction { Ack, Silence, NakRetry, NakFailed, NakFailedDamaged, DamagedAck, VersionReply };

struct FakeHandset {
  int com = 0;
  std::shared_ptr<FakeDevice> dev;

  // ---- behaviour ----
  std::string version = "b1.01";
  bool dead = false;
  uint32_t eraseDelayMs = 0;
  /// Reply to a request instead of the normal one; nullopt = normal, an
  /// empty vector = silence.
  std::function<std::optional<std::vector<uint8_t>>(const std::vector<uint8_t>&)> onRequest;
  /// Decides a data block's fate by its index (first arrival only).
  std::function<BlockAction(int)> onBlock;

  // ---- record ----
  std::vector<std::vector<uint8_t>> requests;
  std::vector<std::array<uint32_t, 3>> erases;
  std::vector<uint8_t> flash;
  int markers = 0;
  int blocksWritten = 0;
  int violations = 0;
  /// Requests or blocks that arrived while a reply was still owed: the tool
  /// must never send before the previous one was answered. A repeat of the
  /// last request and a retry marker are the tool's answer to a silence and
  /// do not count.
  int overlaps = 0;

  // ---- protocol state ----
  bool dataMode = false;
  int expectedBlocks = 0;
  int blockIndex = 0;
  uint32_t eraseStart = 0;
  std::deque<std::pair<uint32_t, std::vector<uint8_t>>> pending;  // due, frame
  /// Frames the handset sends of its own accord, answering nothing.
  std::deque<std::pair<uint32_t, std::vector<uint8_t>>> unsolicited;

  void Reply(uint32_t due, const std::vector<uint8_t>& body) { pending.emplace_back(due, BootFrame(body)); }
  /// Sends `body` every `everyMs` from `fromMs` until `untilMs`.
  void Chatter(uint32_t fromMs, uint32_t everyMs, uint32_t untilMs, const std::vector<uint8_t>& body) {
    for (uint32_t t = fromMs; t < untilMs; t += everyMs) unsolicited.emplace_back(t, BootFrame(body));
  }

  /// Takes the bytes written since the last call; queues the replies.
  bool Consume(uint32_t now) {
    std::vector<uint8_t> in;
    {
      std::lock_guard<std::mutex> g(dev->lock);
      in.assign(dev->written.begin() + static_cast<long>(dev->consumed), dev->written.end());
    }
    size_t used = 0;
    bool progressed = false;
    while (used < in.size()) {
      const bool owed = !pending.empty();
      const size_t requestsBefore = requests.size();
      const int markersBefore = markers;
      size_t n = dataMode ? TakeBlock(in, used, now) : TakeFrame(in, used, now);
      if (n == 0) break;
      const bool repeat = markers > markersBefore ||
                          (requestsBefore > 0 && requests.size() > requestsBefore &&
                           requests.back() == requests[requestsBefore - 1]);
      if (owed && !repeat) ++overlaps;
      used += n;
      progressed = true;
    }
    std::lock_guard<std::mutex> g(dev->lock);
    dev->consumed += used;
    return progressed;
  }

  size_t TakeBlock(const std::vector<uint8_t>& in, size_t at, uint32_t now) {
    if (in.size() - at < 1024) return 0;
    const uint8_t* b = in.data() + at;
    static const uint8_t marker[8] = {0x01, 0x12, 0x73, 0x80, 0x40, 0x67, 0x24, 0x01};
    bool isMarker = std::memcmp(b, marker, 8) == 0;
    for (int k = 8; isMarker && k < 1024; ++k) isMarker = b[k] == 0;
    if (isMarker) {
      ++markers;
      if (!dead) Reply(now, {0x03, 0x03, 0x03});
      return 1024;
    }
    BlockAction action = onBlock ? onBlock(blockIndex) : BlockAction::Ack;
    if (dead) action = BlockAction::Silence;
    switch (action) {
      case BlockAction::Silence: return 1024;
      case BlockAction::NakRetry: Reply(now, {0xA1}); return 1024;
      case BlockAction::NakFailed: Reply(now, {0xA4, 0x00, 0x00}); return 1024;
      case BlockAction::NakFailedDamaged: Reply(now, {0xA4, 0x12, 0x34}); return 1024;
      case BlockAction::VersionReply: Reply(now, WithFcs({0x0D, 'b', '1', '.', '0', '1'})); return 1024;
      case BlockAction::Ack:
      case BlockAction::DamagedAck: break;
    }
    size_t addr = eraseStart + static_cast<size_t>(blockIndex) * 1024;
    if (flash.size() < addr + 1024) flash.resize(addr + 1024, 0xFF);
    std::memcpy(flash.data() + addr, b, 1024);
    ++blocksWritten;
    ++blockIndex;
    if (blockIndex >= expectedBlocks) dataMode = false;
    if (action == BlockAction::DamagedAck)
      Reply(now, {0x02, 0x00, 0x00});
    else
      Reply(now, {0x02, 0x6A, 0xD3});
    return 1024;
  }

  size_t TakeFrame(const std::vector<uint8_t>& in, size_t at, uint32_t now) {
    if (in[at] != 0x7E && in[at] != 0x7F) {
      ++violations;
      return 1;
    }
    size_t end = at + 1;
    while (end < in.size() && in[end] != 0x7E) ++end;
    if (end >= in.size()) return 0;
    size_t total = end - at + 1;
    size_t fill = (4 - total % 4) % 4;
    if (in.size() < end + 1 + fill) return 0;
    for (size_t k = 0; k < fill; ++k)
      if (in[end + 1 + k] != 0) ++violations;
    std::vector<uint8_t> body;
    for (size_t k = at + 1; k < end; ++k) {
      if (in[k] == 0x7D && k + 1 < end) {
        body.push_back(in[++k] ^ 0x20);
      } else {
        body.push_back(in[k]);
      }
    }
    if (body.size() < 3 || OracleCrc16X25(body.data(), body.size() - 2) !=
                               (body[body.size() - 2] | (body[body.size() - 1] << 8))) {
      ++violations;
      return total + fill;
    }
    body.resize(body.size() - 2);
    requests.push_back(body);
    Answer(body, now);
    return total + fill;
  }

  void Answer(const std::vector<uint8_t>& req, uint32_t now) {
    if (dead) return;
    if (onRequest) {
      if (auto custom = onRequest(req)) {
        if (!custom->empty()) Reply(now, *custom);
        return;
      }
    }
    switch (req[0]) {
      case 0xAB: {
        std::vector<uint8_t> body{0x0D};
        body.insert(body.end(), version.begin(), version.end());
        Reply(now, WithFcs(body));
        return;
      }
      case 0xEE:
      case 0xEF: {
        uint32_t v[3];
        for (int k = 0; k < 3; ++k)
          v[k] = req[1 + 4 * k] | (req[2 + 4 * k] << 8) | (req[3 + 4 * k] << 16) |
                 (static_cast<uint32_t>(req[4 + 4 * k]) << 24);
        erases.push_back({v[0], v[1], v[2]});
        eraseStart = v[0];
        expectedBlocks = static_cast<int>((static_cast<uint64_t>(v[1]) + 1023) / 1024);
        blockIndex = 0;
        dataMode = expectedBlocks > 0;
        Reply(now + eraseDelayMs, {0x02, 0x6A, 0xD3});
        return;
      }
      default:
        Reply(now, {0x02, 0x6A, 0xD3});
    }
  }
};

class CFakeBench {
 public:
  explicit CFakeBench(int count) {
    CPortMap::Instance().Clear();
    for (int k = 0; k < count; ++k) {
      auto h = std::make_unique<FakeHandset>();
      h->com = k + 1;
      std::string name = "fake:COM" + std::to_string(h->com);
      h->dev = m_ports.Add(name);
      CPortMap::Instance().Set(h->com, name);
      m_handsets.push_back(std::move(h));
    }
    m_dlg = std::make_unique<CVelmoraDlg>(m_host);
    m_host.SetDialog(m_dlg.get());
    m_dlg->OnInitDialog();
  }
  ~CFakeBench() {
    m_dlg.reset();
    CPortMap::Instance().Clear();
  }

  CVelmoraDlg& dlg() { return *m_dlg; }
  CFakeHost& host() { return m_host; }
  FakeHandset& handset(int k) { return *m_handsets[k]; }
  CFakePorts& ports() { return m_ports; }

  /// Binds handset k to entry k (as a port arrival would).
  void BindAll() {
    for (size_t k = 0; k < m_handsets.size(); ++k) m_dlg->BindPort(static_cast<int>(k), m_handsets[k]->com);
  }

  /// Chooses an image the way a pressed button leaves it.
  void ChoosePhone(const std::string& path) {
    ChangeChoices(*m_dlg, [&](ImageChoices& c) {
      c.m_bPhoneCode = 1;
      c.m_strPhonePath = path;
    });
  }

  /// Lets handsets answer and the dialog handle everything pending now.
  void Pump() {
    for (int guard = 0; guard < 1000000; ++guard) {
      bool progressed = m_host.DispatchPending() > 0;
      for (auto& h : m_handsets) progressed |= Deliver(*h);
      if (!progressed) return;
    }
  }

  /// Runs virtual time until `done` holds or `maxMs` pass. True when done.
  bool RunUntil(const std::function<bool()>& done, uint32_t maxMs) {
    const uint32_t deadline = m_host.Now() + maxMs;
    for (;;) {
      Pump();
      if (done()) return true;
      uint32_t next = m_host.NextTimerDue();
      for (auto& h : m_handsets) {
        for (auto& [due, frame] : h->pending) next = std::min(next, due);
        if (!h->unsolicited.empty()) next = std::min(next, h->unsolicited.front().first);
      }
      if (next == UINT32_MAX || next > deadline) return done();
      if (next > m_host.Now()) m_host.SetNow(next);
      m_host.FireDueTimers();
    }
  }

  /// Runs until the run has ended.
  bool RunToEnd(uint32_t maxMs = 3600000) {
    return RunUntil([this] { return !m_dlg->Running(); }, maxMs);
  }

  /// Presses DownLoad and, when it opens links, waits (really) until they
  /// are open and the DownLoad has gone on; virtual time stands still.
  void DownLoad() {
    m_host.Click(1032, 0);
    AwaitLinks();
  }
  /// Waits (really, up to 30 s) for links being opened; true once none is.
  bool AwaitLinks() {
    for (int waited = 0; m_dlg->LinksOpening() && waited < 300; ++waited) {
      m_host.WaitPosted(100);
      m_host.DispatchPending();
    }
    return !m_dlg->LinksOpening();
  }

 private:
  bool Deliver(FakeHandset& h) {
    bool progressed = h.Consume(m_host.Now());
    // Every reply that is due goes out, even one queued behind a reply due
    // later (an erase delay); waiting for the front would stop time here.
    for (auto it = h.pending.begin(); it != h.pending.end();) {
      if (it->first > m_host.Now()) {
        ++it;
        continue;
      }
      Send(h, it->second);
      it = h.pending.erase(it);
      progressed = true;
    }
    for (; !h.unsolicited.empty() && h.unsolicited.front().first <= m_host.Now(); progressed = true) {
      Send(h, h.unsolicited.front().second);
      h.unsolicited.pop_front();
    }
    return progressed;
  }
  void Send(const FakeHandset& h, std::vector<uint8_t>& frame) {
    for (int i = 0; i < MAX_ENTRIES; ++i) {
      CBssComm& link = CEngineProbe::Binding(*m_dlg, i).m_comm;
      if (link.IsOpen() && link.m_nPort == h.com) {
        link.BeginBurst();
        link.AddReceived(frame.data(), static_cast<int>(frame.size()), i);
        break;
      }
    }
  }

  CFakeHost m_host;
  CFakePorts m_ports;
  std::vector<std::unique_ptr<FakeHandset>> m_handsets;
  std::unique_ptr<CVelmoraDlg> m_dlg;
};
