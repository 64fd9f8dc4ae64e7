#include "sim/SimFlash.h"

#include <algorithm>

CSimFlash::Page& CSimFlash::PageFor(uint32_t pageNo) {
  auto it = m_pages.find(pageNo);
  if (it == m_pages.end()) {
    it = m_pages.emplace(pageNo, Page{}).first;
    it->second.fill(0xFF);
  }
  return it->second;
}

void CSimFlash::Fill(uint32_t start, uint32_t length, uint8_t value) {
  const uint64_t end = static_cast<uint64_t>(start) + length;
  uint64_t a = start;
  while (a < end) {
    const uint32_t pageNo = static_cast<uint32_t>(a / kPage);
    const uint32_t off = static_cast<uint32_t>(a % kPage);
    const uint32_t n = static_cast<uint32_t>(std::min<uint64_t>(kPage - off, end - a));
    auto it = m_pages.find(pageNo);
    if (value == 0xFF && (it == m_pages.end() || n == kPage)) {
      // An absent page already reads FF; a wholly erased one needs no storage.
      if (it != m_pages.end()) m_pages.erase(it);
      auto next = m_pages.lower_bound(pageNo + 1);
      const uint64_t nextAddr = next == m_pages.end() ? end : static_cast<uint64_t>(next->first) * kPage;
      a = std::max<uint64_t>(a + n, std::min<uint64_t>(nextAddr, end));
      continue;
    }
    Page& page = PageFor(pageNo);
    std::fill(page.begin() + off, page.begin() + off + n, value);
    a += n;
  }
}

void CSimFlash::Write(uint32_t address, const uint8_t* data, uint32_t n) {
  uint64_t a = address;
  const uint64_t end = static_cast<uint64_t>(address) + n;
  while (a < end) {
    const uint32_t off = static_cast<uint32_t>(a % kPage);
    const uint32_t chunk = static_cast<uint32_t>(std::min<uint64_t>(kPage - off, end - a));
    Page& page = PageFor(static_cast<uint32_t>(a / kPage));
    std::copy(data, data + chunk, page.begin() + off);
    data += chunk;
    a += chunk;
  }
  m_nEnd = std::max(m_nEnd, end);
}

uint8_t CSimFlash::At(uint32_t address) const {
  auto it = m_pages.find(address / kPage);
  return it == m_pages.end() ? 0xFF : it->second[address % kPage];
}

std::vector<uint8_t> CSimFlash::Read(uint32_t address, uint32_t n) const {
  std::vector<uint8_t> out(n);
  for (uint32_t i = 0; i < n; ++i) out[i] = At(address + i);
  return out;
}
