// Joins the dialog's logic to its Qt host.
#pragma once

class CQtDialogHost;
class CVelmoraDlg;
class CPortWatcher;

/// Routes the host's messages to `dialog`'s window procedure and the
/// window's close to `dialog`'s close handling. With a `watcher`, its
/// wake-ups hand the pending port arrivals and removals to the dialog
/// instead. Both must outlive the binding or be unbound with UnbindDialog
/// first.
void BindDialog(CQtDialogHost& host, CVelmoraDlg& dialog, CPortWatcher* watcher = nullptr);
/// Stops routing messages to any dialog.
void UnbindDialog(CQtDialogHost& host);
