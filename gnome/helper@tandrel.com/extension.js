/* exported init */
// The tandrel helper's access to the desktop on GNOME Shell, which offers Wayland clients no way to watch
// PRIMARY, own the clipboard, synthesise keys or find the pointer. It serves one small D-Bus object on the
// session bus, to callers of the shell's own user only:
//   SelectionFinished      signal: PRIMARY got a new owner and the left button is up again (at once after a
//                          pointer selection; after a short quiet time for one made with the keyboard)
//   ClipboardChanged       signal: another program took CLIPBOARD (this extension's own changes are not told)
//   Types(selection)       the MIME types on offer ("PRIMARY" or "CLIPBOARD")
//   Read(selection, type)  one type's bytes, at most MAX_READ of them
//   SetClipboard(type, data)  owns CLIPBOARD with one type
//   Copy(), Paste()        the copy and paste chords through the extension's own virtual keyboard (no copy
//                          chord into a terminal, which would type it)
//   PointerPosition()      x, y and the bottom edge of the primary monitor (to flip y)
// Nothing else: no method types arbitrary keys or runs code.

const { Clutter, Gio, GLib, Meta } = imports.gi;

const BUS_NAME = 'com.tandrel.helper.Shell';
const OBJECT_PATH = '/com/tandrel/helper/Shell';
const MAX_READ = 64 * 1024 * 1024;
const READ_TIMEOUT_MS = 2000;
const POLL_MS = 5;
// Toolkits replace PRIMARY once more just after the button goes up (the last motion): a pointer selection is
// told once PRIMARY stayed unchanged this long after the release. Keyboard selections change PRIMARY once per
// key, also at the key repeat rate: a burst of those is told once, after a longer quiet time.
const POINTER_QUIET_US = 10 * 1000;
const KEYBOARD_QUIET_US = 50 * 1000;
// A change this soon after the button was last seen down belongs to that pointer gesture.
const POINTER_TAIL_US = 150 * 1000;

const INTERFACE = `
<node>
  <interface name="com.tandrel.helper.Shell">
    <signal name="SelectionFinished"/>
    <signal name="ClipboardChanged"/>
    <method name="Types">
      <arg type="s" name="selection" direction="in"/>
      <arg type="as" name="types" direction="out"/>
    </method>
    <method name="Read">
      <arg type="s" name="selection" direction="in"/>
      <arg type="s" name="type" direction="in"/>
      <arg type="ay" name="data" direction="out"/>
    </method>
    <method name="SetClipboard">
      <arg type="s" name="type" direction="in"/>
      <arg type="ay" name="data" direction="in"/>
    </method>
    <method name="Copy"/>
    <method name="Paste"/>
    <method name="PointerPosition">
      <arg type="i" name="x" direction="out"/>
      <arg type="i" name="y" direction="out"/>
      <arg type="i" name="primaryBottom" direction="out"/>
    </method>
  </interface>
</node>`;

// Terminals type Control+Insert as an escape sequence instead of copying.
const TERMINALS = new Set(['xterm', 'uxterm', 'urxvt', 'rxvt', 'konsole', 'yakuake', 'guake', 'tilda', 'tilix',
    'terminator', 'alacritty', 'kitty', 'st', 'st-256color', 'foot', 'footclient', 'wezterm', 'wezterm-gui',
    'org.wezfurlong.wezterm', 'sakura', 'terminology', 'eterm', 'aterm', 'termite', 'cool-retro-term', 'kgx',
    'org.gnome.console', 'blackbox', 'ptyxis']);

function isTerminal(window) {
    if (!window)
        return false;
    return [window.get_wm_class(), window.get_wm_class_instance(), window.get_gtk_application_id()].some(name => {
        const lower = (name || '').toLowerCase();
        return lower !== '' && (TERMINALS.has(lower) || lower.includes('terminal') || lower.endsWith('term'));
    });
}

function selectionType(name) {
    if (name === 'PRIMARY')
        return Meta.SelectionType.SELECTION_PRIMARY;
    if (name === 'CLIPBOARD')
        return Meta.SelectionType.SELECTION_CLIPBOARD;
    throw new Error(`no selection named ${name}`);
}

class HelperService {
    constructor() {
        this._uid = Gio.Credentials.new().get_unix_user();
        this._selection = global.display.get_selection();
        this._ownClipboard = null;
        this._ownPrimary = null;
        this._clipboardContent = null;
        this._pollId = 0;
        this._lastChange = 0;
        this._buttonSeenAt = 0;
        const seat = Clutter.get_default_backend().get_default_seat();
        this._keyboard = seat.create_virtual_device(Clutter.InputDeviceType.KEYBOARD_DEVICE);
        this._ownerChangedId = this._selection.connect('owner-changed',
            (selection, type, source) => this._ownerChanged(type, source));
        this._object = Gio.DBusExportedObject.wrapJSObject(INTERFACE, this);
        this._object.export(Gio.DBus.session, OBJECT_PATH);
        this._nameId = Gio.bus_own_name_on_connection(Gio.DBus.session, BUS_NAME,
            Gio.BusNameOwnerFlags.NONE, null, null);
    }

    destroy() {
        Gio.bus_unown_name(this._nameId);
        this._object.unexport();
        this._selection.disconnect(this._ownerChangedId);
        if (this._pollId)
            GLib.source_remove(this._pollId);
        this._pollId = 0;
        this._keyboard = null;
    }

    _ownerChanged(type, source) {
        if (type === Meta.SelectionType.SELECTION_CLIPBOARD) {
            if (source !== null && source === this._ownClipboard)
                return;
            this._ownClipboard = null;
            this._clipboardContent = null;
            this._object.emit_signal('ClipboardChanged', null);
            return;
        }
        if (type !== Meta.SelectionType.SELECTION_PRIMARY || source === this._ownPrimary)
            return;
        this._ownPrimary = null;
        // An emptied PRIMARY is no selection (toolkits empty it at the start of a drag).
        if (source === null)
            return;
        this._lastChange = GLib.get_monotonic_time();
        if (this._pollId)
            return;
        this._pollId = GLib.timeout_add(GLib.PRIORITY_DEFAULT, POLL_MS, () => this._poll());
    }

    // Toolkits replace PRIMARY at every step of a drag and at the second press of a double click, before the
    // button goes up: the selection is finished when it does and PRIMARY has settled.
    _poll() {
        const now = GLib.get_monotonic_time();
        const [, , mods] = global.get_pointer();
        if (mods & Clutter.ModifierType.BUTTON1_MASK) {
            this._buttonSeenAt = now;
            return GLib.SOURCE_CONTINUE;
        }
        const quiet = now - this._buttonSeenAt < POINTER_TAIL_US ? POINTER_QUIET_US : KEYBOARD_QUIET_US;
        if (now - this._lastChange < quiet)
            return GLib.SOURCE_CONTINUE;
        this._pollId = 0;
        this._object.emit_signal('SelectionFinished', null);
        return GLib.SOURCE_REMOVE;
    }

    // Runs `answer` for a caller of this shell's own user only; anyone else gets AccessDenied.
    _forOwnUser(invocation, answer) {
        invocation.get_connection().call('org.freedesktop.DBus', '/org/freedesktop/DBus',
            'org.freedesktop.DBus', 'GetConnectionUnixUser', new GLib.Variant('(s)', [invocation.get_sender()]),
            new GLib.VariantType('(u)'), Gio.DBusCallFlags.NONE, -1, null, (connection, result) => {
                let uid = -1;
                try {
                    [uid] = connection.call_finish(result).deepUnpack();
                } catch (e) {
                    uid = -1;
                }
                if (uid !== this._uid) {
                    invocation.return_dbus_error('org.freedesktop.DBus.Error.AccessDenied',
                        'only the desktop user may call this');
                    return;
                }
                try {
                    answer();
                } catch (e) {
                    invocation.return_dbus_error('org.freedesktop.DBus.Error.Failed', e.message);
                }
            });
    }

    // PRIMARY that this extension set for a paste is not the user's selection: it is not offered.
    _offered(name) {
        if (name === 'PRIMARY' && this._ownPrimary !== null)
            return [];
        return this._selection.get_mimetypes(selectionType(name));
    }

    TypesAsync([name], invocation) {
        this._forOwnUser(invocation, () => {
            const types = this._offered(name);
            invocation.return_value(new GLib.Variant('(as)', [types]));
        });
    }

    ReadAsync([name, type], invocation) {
        this._forOwnUser(invocation, () => {
            if (!this._offered(name).includes(type))
                throw new Error(`${name} offers no ${type}`);
            const stream = Gio.MemoryOutputStream.new_resizable();
            const cancellable = new Gio.Cancellable();
            const timeoutId = GLib.timeout_add(GLib.PRIORITY_DEFAULT, READ_TIMEOUT_MS, () => {
                cancellable.cancel();
                return GLib.SOURCE_REMOVE;
            });
            // One byte past the bound tells a value that is too large from one that just fits.
            this._selection.transfer_async(selectionType(name), type, MAX_READ + 1, stream, cancellable,
                (selection, result) => {
                    GLib.source_remove(timeoutId);
                    try {
                        selection.transfer_finish(result);
                        stream.close(null);
                        const bytes = stream.steal_as_bytes();
                        if (bytes.get_size() > MAX_READ)
                            throw new Error(`${type} is larger than ${MAX_READ} bytes`);
                        const data = GLib.Variant.new_from_bytes(new GLib.VariantType('ay'), bytes, true);
                        invocation.return_value(GLib.Variant.new_tuple([data]));
                    } catch (e) {
                        invocation.return_dbus_error('org.freedesktop.DBus.Error.Failed', e.message);
                    }
                });
        });
    }

    SetClipboardAsync(params, invocation) {
        this._forOwnUser(invocation, () => {
            const parameters = invocation.get_parameters();
            const type = parameters.get_child_value(0).get_string()[0];
            const bytes = parameters.get_child_value(1).get_data_as_bytes();
            this._ownClipboard = Meta.SelectionSourceMemory.new(type, bytes);
            this._selection.set_owner(Meta.SelectionType.SELECTION_CLIPBOARD, this._ownClipboard);
            this._clipboardContent = [type, bytes];
            invocation.return_value(null);
        });
    }

    // Control+Insert copies and Shift+Insert pastes in GTK, Qt, browsers and terminals alike, and no terminal
    // takes either for an interrupt.
    CopyAsync(params, invocation) {
        this._forOwnUser(invocation, () => {
            if (isTerminal(global.display.focus_window))
                throw new Error('the focused window is a terminal, which would type the copy chord');
            this._chord(Clutter.KEY_Control_L, Clutter.KEY_Insert);
            invocation.return_value(null);
        });
    }

    PasteAsync(params, invocation) {
        this._forOwnUser(invocation, () => {
            // Terminals paste PRIMARY on Shift+Insert: what the helper put on CLIPBOARD goes there too.
            if (this._clipboardContent) {
                const [type, bytes] = this._clipboardContent;
                this._ownPrimary = Meta.SelectionSourceMemory.new(type, bytes);
                this._selection.set_owner(Meta.SelectionType.SELECTION_PRIMARY, this._ownPrimary);
            }
            this._chord(Clutter.KEY_Shift_L, Clutter.KEY_Insert);
            invocation.return_value(null);
        });
    }

    PointerPositionAsync(params, invocation) {
        this._forOwnUser(invocation, () => {
            const [x, y] = global.get_pointer();
            const primary = global.display.get_monitor_geometry(global.display.get_primary_monitor());
            invocation.return_value(new GLib.Variant('(iii)', [x, y, primary.y + primary.height]));
        });
    }

    _chord(modifier, key) {
        const time = GLib.get_monotonic_time();
        this._keyboard.notify_keyval(time, modifier, Clutter.KeyState.PRESSED);
        this._keyboard.notify_keyval(time, key, Clutter.KeyState.PRESSED);
        this._keyboard.notify_keyval(time, key, Clutter.KeyState.RELEASED);
        this._keyboard.notify_keyval(time, modifier, Clutter.KeyState.RELEASED);
    }
}

class Extension {
    enable() {
        this._service = new HelperService();
    }

    disable() {
        this._service.destroy();
        this._service = null;
    }
}

function init() {
    return new Extension();
}
