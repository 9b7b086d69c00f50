// "Find Ombrelins": searches the network and lets the user pick a module.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "discovery/device_list.h"
#include "discovery/discovery_socket.h"
#include "platform/core/dialog.h"
#include "platform/core/layout.h"

namespace tl {

class FindDialog : public Dialog, public ReplySink, private DeviceTreeView {
 public:
  static constexpr unsigned kSearchTimer = 1;
  static constexpr unsigned kSearchPeriodMs = 1500;
  static constexpr int kHeardListsPerSearch = 3;

  explicit FindDialog(Dialog* parent);
  ~FindDialog() override;

  // Host order, first octet most significant; written only by OnOK.
  std::uint32_t selectedAddress = 0;

  // ---- Dialog
  void DoDataExchange(DataExchange& dx) override;
  bool OnInitDialog() override;
  void OnOK() override;
  void OnTimer(unsigned timerId) override;
  void OnButton(int id) override;

  void OnSearchAgain();
  // Merges one reply into the device list and the tree.
  void addReply(const Reply& reply) override;

  // Where the searches go; taken when the socket is made, before the first
  // request (by default the one broadcast to 255.255.255.255).
  void SetSearchDestinations(std::vector<SearchDestination> destinations) {
    destinations_ = std::move(destinations);
  }

  const DeviceRecord* deviceList() const { return devices_.First(); }
  const DeviceList& Devices() const { return devices_; }
  const DiscoverySocket* Socket() const { return socket_.get(); }
  int SearchTicks() const { return searchTicks_; }

 private:
  // ---- DeviceTreeView, on the dialog's tree control
  TreeItem InsertLast(TreeItem parent, std::string_view text) override;
  void SetText(TreeItem item, std::string_view text) override;
  void SetStateImage(TreeItem item, int index) override;
  void SetData(TreeItem item, DeviceRecord* record) override;
  void Select(TreeItem item) override;

  void StartSearch();

  std::vector<SearchDestination> destinations_{SearchDestination{}};
  std::unique_ptr<DiscoverySocket> socket_;
  DeviceList devices_;
  unsigned timer_ = 0;
  int searchTicks_ = 0;
};

}  // namespace tl
