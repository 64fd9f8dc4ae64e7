#include "sim/SimBench.h"

#include "platform/PortMap.h"

bool CSimBench::Start(int count, const SimHandsetConfig& config, std::string* error) {
  return Start(std::vector<SimHandsetConfig>(static_cast<size_t>(count > 0 ? count : 0), config), error);
}

bool CSimBench::Start(const std::vector<SimHandsetConfig>& configs, std::string* error) {
  Stop();
  for (const SimHandsetConfig& config : configs) {
    auto handset = std::make_unique<CSimHandset>(config);
    if (!handset->Start(error)) {
      Stop();
      return false;
    }
    m_handsets.push_back(std::move(handset));
  }
  return true;
}

void CSimBench::Stop() {
  UnmapPorts();
  for (auto& h : m_handsets) h->Stop();
  m_handsets.clear();
}

bool CSimBench::MapPorts(int firstCom) {
  if (firstCom < 1 || firstCom + Count() - 1 > MAX_COM_PORT) return false;
  UnmapPorts();
  for (int i = 0; i < Count(); ++i) CPortMap::Instance().Set(firstCom + i, m_handsets[static_cast<size_t>(i)]->SlavePath());
  m_nFirstCom = firstCom;
  return true;
}

void CSimBench::UnmapPorts() {
  if (m_nFirstCom == 0) return;
  for (int i = 0; i < Count(); ++i) {
    const int com = m_nFirstCom + i;
    // Leave a number alone that someone has pointed elsewhere since.
    if (CPortMap::Instance().Device(com) == m_handsets[static_cast<size_t>(i)]->SlavePath())
      CPortMap::Instance().Remove(com);
  }
  m_nFirstCom = 0;
}

int CSimBench::ComOf(int index) const {
  if (m_nFirstCom == 0 || index < 0 || index >= Count()) return 0;
  return m_nFirstCom + index;
}
