/* exported init */
// Test only, never installed: the tests' pointer and keyboard inside a headless shell, driven over the session
// bus (com.tandrel.helper.TestInput): MovePointer(x, y), Button(pressed) for the left button, Key(keyval,
// pressed).

const { Clutter, Gio, GLib } = imports.gi;
const Main = imports.ui.main;

const INTERFACE = `
<node>
  <interface name="com.tandrel.helper.TestInput">
    <method name="MovePointer">
      <arg type="d" name="x" direction="in"/>
      <arg type="d" name="y" direction="in"/>
    </method>
    <method name="Button">
      <arg type="b" name="pressed" direction="in"/>
    </method>
    <method name="Key">
      <arg type="u" name="keyval" direction="in"/>
      <arg type="b" name="pressed" direction="in"/>
    </method>
  </interface>
</node>`;

class TestInput {
    constructor() {
        const seat = Clutter.get_default_backend().get_default_seat();
        this._pointer = seat.create_virtual_device(Clutter.InputDeviceType.POINTER_DEVICE);
        this._keyboard = seat.create_virtual_device(Clutter.InputDeviceType.KEYBOARD_DEVICE);
        this._object = Gio.DBusExportedObject.wrapJSObject(INTERFACE, this);
        this._object.export(Gio.DBus.session, '/com/tandrel/helper/TestInput');
        this._nameId = Gio.bus_own_name_on_connection(Gio.DBus.session, 'com.tandrel.helper.TestInput',
            Gio.BusNameOwnerFlags.NONE, null, null);
    }

    destroy() {
        Gio.bus_unown_name(this._nameId);
        this._object.unexport();
    }

    MovePointer(x, y) {
        this._pointer.notify_absolute_motion(GLib.get_monotonic_time(), x, y);
    }

    Button(pressed) {
        this._pointer.notify_button(GLib.get_monotonic_time(), Clutter.BUTTON_PRIMARY,
            pressed ? Clutter.ButtonState.PRESSED : Clutter.ButtonState.RELEASED);
    }

    Key(keyval, pressed) {
        this._keyboard.notify_keyval(GLib.get_monotonic_time(), keyval,
            pressed ? Clutter.KeyState.PRESSED : Clutter.KeyState.RELEASED);
    }
}

class Extension {
    enable() {
        this._input = new TestInput();
        // The shell starts in the overview, which would cover the tests' windows.
        if (Main.layoutManager._startingUp)
            this._startupId = Main.layoutManager.connect('startup-complete', () => Main.overview.hide());
        else
            Main.overview.hide();
    }

    disable() {
        if (this._startupId)
            Main.layoutManager.disconnect(this._startupId);
        this._startupId = 0;
        this._input.destroy();
        this._input = null;
    }
}

function init() {
    return new Extension();
}
