#!/usr/bin/python3
'''The real tray program on both kinds of tray host, on a private X display
(Xvfb, QT_QPA_PLATFORM=xcb):

- XEmbed: with no StatusNotifierWatcher on the session bus, Qt docks its icon
  in an XEmbed tray (trayer);
- StatusNotifierItem: with a watcher on a private session bus that says a host
  is registered, Qt registers an item instead. The item carries its title,
  icon and tooltip, and exports its menu over com.canonical.dbusmenu with the
  client menu's items, labels without shortcut text after a TAB; clicking
  Connect there sends the vote.

Usage: tray_hosts_test.py LINKMOOT   (exits 0 when every check holds)
Every process it starts is ended by its id before it exits.
'''

import os
import re
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
import time

import dbus

WATCHER = 'org.kde.StatusNotifierWatcher'
WATCHER_PATH = '/StatusNotifierWatcher'
ITEM_IFACE = 'org.kde.StatusNotifierItem'
MENU_IFACE = 'com.canonical.dbusmenu'
MOCK_IFACE = 'org.freedesktop.DBus.Mock'
NO_BUS = 'unix:path=/nonexistent/linkmoot-test-bus'

# The client tray menu as a StatusNotifierItem host gets it: label (mnemonic
# as "_"), shortcut, submenus indented.
EXPECTED_MENU = [
    '_Connect',
    '_Disconnect',
    '---',
    '_Options>',
    '  _Configuration... [F10]',
    '_Help>',
    '  _Help... [F1]',
    '  _Terms and Conditions',
    '  _Web Site of Linkmoot',
    '---',
    '_Exit',
]

failures = []


def check(condition, message):
    if not condition:
        failures.append(message)
        print('FAIL: ' + message, flush=True)
    return condition


def wait_until(condition, seconds, step=0.1):
    deadline = time.monotonic() + seconds
    while True:
        result = condition()
        if result or time.monotonic() >= deadline:
            return result
        time.sleep(step)


class Processes:
    '''The processes this test starts, ended in reverse order by their ids.'''

    def __init__(self):
        self.started = []

    def start(self, arguments, **options):
        options.setdefault('stdout', subprocess.DEVNULL)
        options.setdefault('stderr', subprocess.DEVNULL)
        process = subprocess.Popen(arguments, **options)
        self.started.append(process)
        return process

    def stop(self, process):
        if process.poll() is None:
            process.terminate()
            try:
                process.wait(15)
            except subprocess.TimeoutExpired:
                process.kill()
                process.wait()

    def stop_all(self):
        for process in reversed(self.started):
            self.stop(process)
        self.started = []


def read_first_line(read_end, failure):
    """What a starting program prints on its pipe up to the first line end;
    closes the pipe."""
    text = b''
    while not text.endswith(b'\n'):
        chunk = os.read(read_end, 256)
        if not chunk:
            os.close(read_end)
            raise RuntimeError(failure)
        text += chunk
    os.close(read_end)
    return text.decode().strip()


def start_xvfb(processes):
    read_end, write_end = os.pipe()
    processes.start(['Xvfb', '-displayfd', str(write_end), '-screen', '0', '800x600x24',
                     '-nolisten', 'tcp'], pass_fds=(write_end,))
    os.close(write_end)
    return ':' + read_first_line(read_end, 'Xvfb did not start')


def start_session_bus(processes, folder):
    # A bus of the test's own that activates nothing.
    config = os.path.join(folder, 'session.conf')
    with open(config, 'w') as out:
        out.write('''<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig>
  <type>session</type>
  <listen>unix:dir=%s</listen>
  <auth>EXTERNAL</auth>
  <policy context="default">
    <allow send_destination="*" eavesdrop="true"/>
    <allow eavesdrop="true"/>
    <allow own="*"/>
  </policy>
</busconfig>
''' % folder)
    read_end, write_end = os.pipe()
    processes.start(['dbus-daemon', '--config-file=' + config, '--nofork', '--nosyslog',
                     '--print-address=%d' % write_end], pass_fds=(write_end,))
    os.close(write_end)
    return read_first_line(read_end, 'the private session bus did not start')


def window_tree():
    return subprocess.run(['xwininfo', '-root', '-tree'], capture_output=True, text=True).stdout


def tray_icon_docked(name):
    '''True when a window of the program NAME is mapped inside trayer's panel.'''
    in_panel = False
    depth = 0
    for line in window_tree().splitlines():
        if '("panel" "trayer")' in line:
            in_panel = True
            depth = line.find('0x')
            continue
        if in_panel and '0x' in line:
            if line.find('0x') <= depth:
                in_panel = False
                continue
            if '("%s"' % name in line:
                window = line.split()[0]
                info = subprocess.run(['xwininfo', '-id', window], capture_output=True,
                                      text=True).stdout
                return 'IsViewable' in info
    return False


def describe_layout(layout, indent=''):
    '''The dbusmenu layout (id, properties, children) as lines like EXPECTED_MENU.'''
    lines = []
    for child in layout[2]:
        properties = child[1]
        if properties.get('type') == 'separator':
            lines.append(indent + '---')
            continue
        label = str(properties.get('label', ''))
        shortcut = properties.get('shortcut')
        if shortcut:
            label += ' [%s]' % '+'.join(str(key) for key in shortcut[0])
        if properties.get('children-display') == 'submenu':
            lines.append(indent + label + '>')
            lines.extend(describe_layout(child, indent + '  '))
        else:
            lines.append(indent + label)
    return lines


def find_item(layout, label):
    for child in layout[2]:
        if str(child[1].get('label', '')) == label:
            return int(child[0])
        found = find_item(child, label)
        if found is not None:
            return found
    return None


class Tray:
    '''A copy of the program in folders of its own, as a client of a local
    UDP socket that receives its votes.'''

    def __init__(self, program, folder, processes):
        self.folder = folder
        self.processes = processes
        self.votes = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
        self.votes.bind(('127.0.0.1', 0))
        self.votes.settimeout(10)
        for name in ('bin', 'home', 'runtime', 'config/Fennel Brookworks/Linkmoot'):
            os.makedirs(os.path.join(folder, name), mode=0o700, exist_ok=True)
        self.program = os.path.join(folder, 'bin', 'linkmoot')
        shutil.copy(program, self.program)
        with open(os.path.join(folder, 'config/Fennel Brookworks/Linkmoot/linkmoot.cfg'),
                  'w', newline='') as out:
            out.write('<Configured>1</>\r\n<Mode>client</>\r\n<Port>%d</>\r\n\r\n'
                      '<Client>\r\n\t<Server>127.0.0.1</>\r\n</Client>\r\n'
                      % self.votes.getsockname()[1])

    def start(self, display, session_bus):
        environment = {key: value for key, value in os.environ.items()
                       if not key.startswith(('XDG_', 'QT_', 'DBUS_', 'KDE_', 'GNOME_'))}
        environment.update({
            'DISPLAY': display,
            'QT_QPA_PLATFORM': 'xcb',
            'HOME': os.path.join(self.folder, 'home'),
            'XDG_CONFIG_HOME': os.path.join(self.folder, 'config'),
            'XDG_RUNTIME_DIR': os.path.join(self.folder, 'runtime'),
            'DBUS_SESSION_BUS_ADDRESS': session_bus,
            'DBUS_SYSTEM_BUS_ADDRESS': NO_BUS,
        })
        self.process = self.processes.start([self.program], env=environment,
                                            stderr=open(os.path.join(self.folder, 'stderr.txt'),
                                                        'a'))
        return self.process

    def stop(self):
        self.processes.stop(self.process)


def xembed_case(program, folder, display, processes):
    arguments = ['trayer', '--edge', 'top', '--align', 'right', '--widthtype', 'request',
                 '--height', '28', '--SetDockType', 'true', '--transparent', 'false']
    # On a loaded machine trayer can give up before the new display answers it:
    # a second start is allowed, within the same bounded wait.
    trayer = processes.start(arguments)
    panel_shown = wait_until(lambda: '("panel" "trayer")' in window_tree(), 15)
    if not panel_shown and trayer.poll() is not None:
        trayer = processes.start(arguments)
        panel_shown = wait_until(lambda: '("panel" "trayer")' in window_tree(), 15)
    if not check(panel_shown, 'trayer did not start'):
        return
    tray = Tray(program, os.path.join(folder, 'xembed'), processes)
    tray.start(display, NO_BUS)
    check(wait_until(lambda: tray_icon_docked('linkmoot'), 30),
          'XEmbed: the icon was not docked in trayer')
    tray.stop()
    processes.stop(trayer)


def sni_case(program, folder, display, processes):
    bus_address = start_session_bus(processes, folder)
    bus = dbus.bus.BusConnection(bus_address)
    # The watcher: it says a host is registered before the tray starts, and
    # records each item's registration.
    mock_environment = dict(os.environ, DBUS_SESSION_BUS_ADDRESS=bus_address)
    processes.start(['/usr/bin/python3', '-m', 'dbusmock', '--session', WATCHER, WATCHER_PATH,
                     WATCHER], env=mock_environment)
    if not check(wait_until(lambda: bus.name_has_owner(WATCHER), 10),
                 'the watcher did not start'):
        return
    mock = dbus.Interface(bus.get_object(WATCHER, WATCHER_PATH), MOCK_IFACE)
    mock.AddMethod(WATCHER, 'RegisterStatusNotifierItem', 's', '', '')
    mock.AddMethod(WATCHER, 'RegisterStatusNotifierHost', 's', '', '')
    mock.AddProperties(WATCHER, {
        'IsStatusNotifierHostRegistered': True,
        'ProtocolVersion': dbus.Int32(0),
        'RegisteredStatusNotifierItems': dbus.Array([], signature='s'),
    })

    tray = Tray(program, os.path.join(folder, 'sni'), processes)
    tray.start(display, bus_address)

    def registered():
        calls = mock.GetMethodCalls('RegisterStatusNotifierItem')
        return str(calls[0][1][0]) if calls else None

    service = wait_until(registered, 30)
    if not check(service, 'SNI: no item registered with the watcher'):
        return
    item = bus.get_object(service, '/StatusNotifierItem')
    properties = dbus.Interface(item, dbus.PROPERTIES_IFACE)
    values = properties.GetAll(ITEM_IFACE)
    check(str(values.get('Title')) == 'Linkmoot', 'SNI: title %r' % values.get('Title'))
    pixmaps = values.get('IconPixmap', [])
    check(str(values.get('IconName', '')) != '' or
          any(width > 0 and len(data) == width * height * 4 for width, height, data in pixmaps),
          'SNI: no icon')
    tooltip = values.get('ToolTip')
    texts = [str(tooltip[2]), str(tooltip[3])] if tooltip else []
    # The tray text is the tooltip's first line; the server's line may follow.
    check(any(t.startswith('Not voting for connection') for t in texts), 'SNI: tooltip %r' % texts)

    menu_path = values.get('Menu')
    if not check(menu_path, 'SNI: no menu exported'):
        return
    menu = dbus.Interface(bus.get_object(service, menu_path), MENU_IFACE)
    layout = wait_until(lambda: menu.GetLayout(0, -1, dbus.Array([], signature='s'))[1]
                        if len(menu.GetLayout(0, -1, dbus.Array([], signature='s'))[1][2])
                        else None, 10)
    lines = describe_layout(layout) if layout else []
    check(lines == EXPECTED_MENU, 'SNI: menu\n  %s\nexpected\n  %s'
          % ('\n  '.join(lines), '\n  '.join(EXPECTED_MENU)))
    check(not any('\t' in line for line in lines), 'SNI: a label carries a TAB')

    # Clicking Connect in the host's menu runs the command: the vote goes out
    # and the tooltip follows.
    connect = find_item(layout, '_Connect') if layout else None
    if check(connect is not None, 'SNI: no Connect item'):
        menu.Event(connect, 'clicked', dbus.Int32(0, variant_level=1), dbus.UInt32(0))
        try:
            datagram = tray.votes.recv(512).decode(errors='replace')
        except socket.timeout:
            datagram = ''
        check(datagram.startswith('vote:'), 'SNI: Connect sent %r' % datagram)

        def tooltip_text():
            tip = properties.Get(ITEM_IFACE, 'ToolTip')
            return any(str(t).startswith('Voting for connection') for t in (tip[2], tip[3]))
        check(wait_until(tooltip_text, 10), 'SNI: the tooltip did not follow the vote')
    tray.stop()


def main():
    if len(sys.argv) != 2:
        print(__doc__)
        return 2
    program = os.path.abspath(sys.argv[1])
    processes = Processes()
    folder = tempfile.mkdtemp(prefix='linkmoot-tray-hosts-')
    try:
        display = start_xvfb(processes)
        # For xwininfo and trayer.
        os.environ['DISPLAY'] = display
        xembed_case(program, folder, display, processes)
        sni_case(program, folder, display, processes)
    finally:
        processes.stop_all()
        for name in ('xembed', 'sni'):
            log = os.path.join(folder, name, 'stderr.txt')
            if failures and os.path.exists(log):
                print('--- %s tray, standard error:\n%s' % (name, open(log).read()))
        shutil.rmtree(folder, ignore_errors=True)
    print('FAILED' if failures else 'all tray host checks passed')
    return 1 if failures else 0


if __name__ == '__main__':
    sys.exit(main())
