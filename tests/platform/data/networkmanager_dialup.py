'''Dial-up additions to python-dbusmock's "networkmanager" template.

Loaded with AddTemplate into a running mock of that template, it adds what the
template lacks for dial-up: the secret agent manager, activations that take a
moment and then come up, fail or ask the registered agent for the password,
deactivations that end in DEACTIVATED, and a few helpers for the tests on the
mock interface (org.freedesktop.DBus.Mock).
'''

import inspect
import uuid

import dbus
import dbusmock
from dbusmock import MOCK_IFACE
from gi.repository import GLib

MANAGER_OBJ = '/org/freedesktop/NetworkManager'
MANAGER_IFACE = 'org.freedesktop.NetworkManager'
SETTINGS_OBJ = '/org/freedesktop/NetworkManager/Settings'
ACTIVE_IFACE = 'org.freedesktop.NetworkManager.Connection.Active'
AGENT_MANAGER_OBJ = '/org/freedesktop/NetworkManager/AgentManager'
AGENT_MANAGER_IFACE = 'org.freedesktop.NetworkManager.AgentManager'
AGENT_OBJ = '/org/freedesktop/NetworkManager/SecretAgent'
AGENT_IFACE = 'org.freedesktop.NetworkManager.SecretAgent'
DEVICE_IFACE = 'org.freedesktop.NetworkManager.Device'
IP4_IFACE = 'org.freedesktop.NetworkManager.IP4Config'

ACTIVATING = 1
ACTIVATED = 2
DEACTIVATED = 4
REASON_NONE = 1
REASON_USER_DISCONNECTED = 2
REASON_CONNECT_TIMEOUT = 6
REASON_NO_SECRETS = 9
REASON_LOGIN_FAILED = 10
REASON_DEVICE_DISCONNECTED = 3
DEVICE_CONFIG = 50
DEVICE_FAILED = 120
DEVICE_REASON_PPP_DISCONNECT = 13
DEVICE_REASON_PPP_FAILED = 14
ALLOW_INTERACTION = 1

# What each profile does when activated ("connect", "fail", "secret", "hold",
# "refuse", or as the real service does with PPP: "ppp", which asks the agent
# and fails its device with ppp-disconnect on a wrong password, and
# "ppp-silent", whose provider never answers) and the password its peer
# expects, by profile path.
BEHAVIOUR = {}
EXPECTED_PASSWORD = {}
STATE = {'agent': '', 'received': [], 'activations': 0}


def load(mock, parameters):  # pylint: disable=unused-argument
    mock.AddObject(AGENT_MANAGER_OBJ, AGENT_MANAGER_IFACE, {}, [])
    agent_manager = dbusmock.get_object(AGENT_MANAGER_OBJ)
    agent_manager.AddMethod(AGENT_MANAGER_IFACE, 'Register', 's', '', register)
    agent_manager.AddMethod(AGENT_MANAGER_IFACE, 'RegisterWithCapabilities', 'su', '', register)
    agent_manager.AddMethod(AGENT_MANAGER_IFACE, 'Unregister', '', '', unregister)

    manager = dbusmock.get_object(MANAGER_OBJ)
    manager.AddMethod(MANAGER_IFACE, 'ActivateConnection', 'ooo', 'o', activate)
    manager.AddMethod(MANAGER_IFACE, 'DeactivateConnection', 'o', '', deactivate)


def caller():
    '''The unique name of the client whose call is being handled (the mock's
    code-defined methods are not told, but dbus-python's dispatcher holds it).'''
    for frame in inspect.stack():
        message = frame.frame.f_locals.get('message')
        if isinstance(message, dbus.lowlevel.MethodCallMessage):
            return message.get_sender()
    return ''


def register(_self, *_args):
    STATE['agent'] = caller()


def unregister(_self, *_args):
    STATE['agent'] = ''


def set_state(path, state, reason):
    active = dbusmock.get_object(path)
    active.Set(ACTIVE_IFACE, 'State', dbus.UInt32(state))
    active.EmitSignal(ACTIVE_IFACE, 'StateChanged', 'uu', [dbus.UInt32(state), dbus.UInt32(reason)])
    if state == DEACTIVATED:
        remove_active(path)


def remove_active(path):
    manager = dbusmock.get_object(MANAGER_OBJ)
    active = manager.Get(MANAGER_IFACE, 'ActiveConnections')
    if path in active:
        active.remove(dbus.ObjectPath(path))
        manager.Set(MANAGER_IFACE, 'ActiveConnections', active)
    manager.object_manager_emit_removed(path)
    manager.RemoveObject(path)


def activate(manager, profile, _device, _specific_object):
    profile = str(profile)
    if profile not in dbusmock.get_objects():
        raise dbus.exceptions.DBusException(f'No connection {profile}',
                                            name=MANAGER_IFACE + '.UnknownConnection')
    behaviour = BEHAVIOUR.get(profile, 'connect')
    if behaviour == 'refuse':
        raise dbus.exceptions.DBusException('Not authorized to control networking.',
                                            name=MANAGER_IFACE + '.PermissionDenied')
    STATE['activations'] += 1
    devices = devices_for(profile)
    path = manager.AddActiveConnection(devices, profile, '/', f'dial{STATE["activations"]}',
                                       dbus.UInt32(ACTIVATING))
    if not devices:
        # A modem's device, with the interface the line runs on once it is up.
        device = f'/org/freedesktop/NetworkManager/Devices/modem{STATE["activations"]}'
        manager.AddObject(device, 'org.freedesktop.NetworkManager.Device',
                          {'Interface': 'ttyUSB0', 'IpInterface': f'ppp{STATE["activations"]}',
                           'AvailableConnections': dbus.Array([], signature='o')}, [])
        dbusmock.get_object(path).Set(ACTIVE_IFACE, 'Devices', dbus.Array([device], signature='o'))
    # The real service answers at once and works on in the background.
    GLib.timeout_add(100, progress, path, profile, behaviour)
    return dbus.ObjectPath(path)


def devices_for(profile):
    '''The devices that offer the profile, as the real service would choose.'''
    manager = dbusmock.get_object(MANAGER_OBJ)
    return [dbus.ObjectPath(device) for device in manager.Get(MANAGER_IFACE, 'Devices')
            if profile in dbusmock.get_object(device).Get(DEVICE_IFACE, 'AvailableConnections')]


def fail_devices(path, reason):
    '''The devices of an activation fail first, then the activation ends with
    the real service's vaguer reason.'''
    for device in dbusmock.get_object(path).Get(ACTIVE_IFACE, 'Devices'):
        dbusmock.get_object(device).EmitSignal(
            DEVICE_IFACE, 'StateChanged', 'uuu',
            [dbus.UInt32(DEVICE_FAILED), dbus.UInt32(DEVICE_CONFIG), dbus.UInt32(reason)])
    set_state(path, DEACTIVATED, REASON_DEVICE_DISCONNECTED)


def progress(path, profile, behaviour):
    if path not in dbusmock.get_objects():
        return False
    if behaviour == 'connect':
        set_state(path, ACTIVATED, REASON_NONE)
    elif behaviour == 'fail':
        set_state(path, DEACTIVATED, REASON_CONNECT_TIMEOUT)
    elif behaviour in ('secret', 'ppp'):
        ask_agent(path, profile, behaviour)
    elif behaviour == 'ppp-silent':
        fail_devices(path, DEVICE_REASON_PPP_FAILED)
    return False


def ask_agent(path, profile, behaviour):
    if not STATE['agent']:
        set_state(path, DEACTIVATED, REASON_NO_SECRETS)
        return
    settings = dbusmock.get_object(profile).settings
    setting = str(settings['connection']['type'])
    connection = dbus.Dictionary({
        'connection': dbus.Dictionary({'id': settings['connection']['id'], 'type': setting},
                                      signature='sv')}, signature='sa{sv}')

    def answered(secrets):
        password = str(secrets.get(setting, {}).get('password', ''))
        STATE['received'].append(password)
        if password == EXPECTED_PASSWORD.get(profile):
            set_state(path, ACTIVATED, REASON_NONE)
        elif behaviour == 'ppp':
            fail_devices(path, DEVICE_REASON_PPP_DISCONNECT)
        else:
            set_state(path, DEACTIVATED, REASON_LOGIN_FAILED)

    def refused(_error):
        set_state(path, DEACTIVATED, REASON_NO_SECRETS)

    bus = dbusmock.get_object(MANAGER_OBJ).connection
    bus.call_async(STATE['agent'], AGENT_OBJ, AGENT_IFACE, 'GetSecrets', 'a{sa{sv}}osasu',
                   (connection, dbus.ObjectPath(profile), setting, dbus.Array([], signature='s'),
                    dbus.UInt32(ALLOW_INTERACTION)),
                   answered, refused)


def deactivate(_manager, active):
    active = str(active)
    if active not in dbusmock.get_objects():
        raise dbus.exceptions.DBusException(f'{active} is not active',
                                            name=MANAGER_IFACE + '.ConnectionNotActive')
    set_state(active, DEACTIVATED, REASON_USER_DISCONNECTED)


@dbus.service.method(MOCK_IFACE, in_signature='sssss', out_signature='o')
def AddDialupProfile(_self, profile_id, profile_uuid, profile_type, behaviour, password):
    '''Adds a connection profile; an empty uuid gets a new one.'''
    settings = {
        'connection': {'id': profile_id, 'type': profile_type,
                       'uuid': profile_uuid or str(uuid.uuid4())},
        profile_type: {'username': 'profile-user'},
    }
    path = dbusmock.get_object(SETTINGS_OBJ).SettingsAddConnection(settings)
    BEHAVIOUR[str(path)] = behaviour
    EXPECTED_PASSWORD[str(path)] = password
    return path


@dbus.service.method(MOCK_IFACE, in_signature='ouu', out_signature='')
def SetActiveState(_self, path, state, reason):
    '''Moves an active connection to a state, as the real service would.'''
    set_state(str(path), state, reason)


@dbus.service.method(MOCK_IFACE, in_signature='', out_signature='as')
def ReceivedSecrets(_self):
    '''The passwords the secret agent has handed over, in order.'''
    return dbus.Array(STATE['received'], signature='s')


@dbus.service.method(MOCK_IFACE, in_signature='', out_signature='s')
def RegisteredAgent(_self):
    '''The unique name of the registered secret agent, or "".'''
    return STATE['agent']


@dbus.service.method(MOCK_IFACE, in_signature='', out_signature='u')
def ActivationCount(_self):
    return dbus.UInt32(STATE['activations'])


@dbus.service.method(MOCK_IFACE, in_signature='sasao', out_signature='o')
def AddUplinkDevice(_self, interface, addresses, profiles):
    '''An ethernet device with these IPv4 addresses that offers these profiles.'''
    manager = dbusmock.get_object(MANAGER_OBJ)
    object_name = interface.replace('-', '_')  # object paths take no "-"
    path = manager.AddEthernetDevice(object_name, interface, dbus.UInt32(100))
    config = '/org/freedesktop/NetworkManager/IP4Config/' + object_name
    manager.AddObject(config, IP4_IFACE, {
        'AddressData': dbus.Array([dbus.Dictionary({'address': dbus.String(address),
                                                    'prefix': dbus.UInt32(24, variant_level=1)},
                                                   signature='sv') for address in addresses],
                                  signature='a{sv}')}, [])
    device = dbusmock.get_object(path)
    device.Set(DEVICE_IFACE, 'AvailableConnections', dbus.Array(profiles, signature='o'))
    device.AddProperty(DEVICE_IFACE, 'Ip4Config', dbus.ObjectPath(config))
    return path
