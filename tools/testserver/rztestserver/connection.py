"""One client connection: handshake, then requests until the client leaves."""
import ssl
import sys
import threading

from . import login as login_module, packets, tls, tokens
from .kerberos import LoginRefused, untrusted_login
from .connection_helpers import request_body
from .errors import SqlError, internal_error
from .output import Output
from .packets import AttentionReceived, ConnectionClosed, PacketStream
from .reply import Reply, ReplyAbandoned
from .session import Session
from .sqltypes import COLLATION

_spids = iter(range(51, 1 << 15))
_spid_lock = threading.Lock()


class Connection(threading.Thread):
    def __init__(self, server, sock, address):
        super().__init__(daemon=True)
        self.server = server
        self.sock = sock
        self.address = address
        self.stream = PacketStream(sock)
        self.faults = server.faults
        self.rows_sent = 0
        self.session = None
        with _spid_lock:
            self.spid = next(_spids)

    def log(self, text):
        self.server.log('[%s:%d spid %d] %s' % (self.address[0], self.address[1], self.spid, text))

    def run(self):
        try:
            if self.faults.hang:
                self.log('connection accepted; never answering (fault)')
                self.server.stopping.wait()
                return
            if self.handshake():
                self.serve()
        except ConnectionClosed:
            pass
        except OSError as error:
            self.log('connection error: %s' % error)
        except Exception as error:       # a bug here must not take the server down
            import traceback
            self.log('internal error: %r' % error)
            traceback.print_exc(file=sys.stderr)
        finally:
            if self.session is not None:
                self.session.close()
            self.stream.close()
            self.server.forget(self)
            self.log('closed')

    # --- handshake ------------------------------------------------------------
    def handshake(self):
        kind, payload = self.stream.read_message()
        encryption = login_module.NO_TLS
        if kind == packets.PRELOGIN:
            options = login_module.parse_prelogin(payload)
            tls_context = self.server.tls_context
            answer, encryption = login_module.negotiate_encryption(
                options, offered=tls_context is not None, required=self.server.require_encryption)
            reply = Reply(self)
            reply.add(login_module.prelogin_reply(answer))
            reply.finish()
            if encryption == login_module.REFUSE:
                self.log('client requires encryption, which this server does not offer; closing'
                         if tls_context is None else 'client cannot encrypt, which this server requires; closing')
                return False
            plain = self.stream.sock
            if encryption != login_module.NO_TLS:
                try:
                    self.stream.sock = tls.handshake(self.stream, tls_context)
                except ssl.SSLError as error:
                    self.log('TLS handshake failed: %s' % error)
                    return False
                except (ConnectionClosed, OSError):
                    self.log('TLS handshake failed: the client closed the connection')
                    return False
                self.log('TLS %s (%s)' % (encryption, self.stream.sock.tls.version()))
            kind, payload = self.stream.read_message()
            if encryption == login_module.LOGIN_ONLY:
                self.stream.sock = plain
        if kind != packets.LOGIN7:
            self.log('expected LOGIN7, got packet type 0x%02X' % kind)
            return False
        request = login_module.Login(payload)
        if self.faults.drop_during_login:
            self.drop('LOGIN7 from %r has arrived' % request.username)
        name, last_token, error = self.authenticate(request)
        reply = Reply(self)
        out = Output(reply, None)
        if error is None:
            error = self.check_login(request, name)
        if error is not None:
            self.log('login failed for %r: %s' % (name, error.message))
            out.error(error)
            out.done(error=True)
            out.finish()
            return False
        if last_token:
            out.add(tokens.sspi(last_token))
        database = self.server.databases.canonical(request.database) if request.database else \
            self.server.default_database(name)
        if request.packet_size and 512 <= request.packet_size <= 32767:
            packet_size = request.packet_size
        else:
            packet_size = 4096
        self.session = Session(self.server, name, database, self.spid, request.hostname,
                               request.appname)
        out.session = self.session
        out.envchange(tokens.ENV_DATABASE, database, 'master')
        out.info(5701, "Changed database context to '%s'." % database, state=2)
        out.envchange(tokens.ENV_COLLATION, COLLATION, b'')
        out.envchange(tokens.ENV_LANGUAGE, 'us_english', '')
        out.info(5703, 'Changed language setting to us_english.', state=1)
        out.add(tokens.loginack())
        out.envchange(tokens.ENV_PACKETSIZE, str(packet_size), str(4096))
        out.done()
        out.finish()
        self.stream.packet_size = packet_size
        self.log('login %r database %r from %r (%s)' % (name, database, request.hostname,
                                                       request.appname))
        return True

    def authenticate(self, request):
        """(login name, last SSPI token for the client, error): a SQL Server
        login as LOGIN7 names it, or the Kerberos principal an integrated
        login proves."""
        if not request.integrated:
            password = self.server.logins.get(request.username.lower())
            if password is None or password != request.password:
                return request.username, b'', self.login_failed(request.username)
            return request.username, b'', None
        if self.server.kerberos is None:
            self.log('integrated login, and this server has no keytab')
            return '', b'', untrusted_login()
        try:
            name, last_token = self.server.kerberos.accept(self, request.sspi)
        except LoginRefused as refusal:
            self.log('integrated login refused: %s' % refusal)
            return '', b'', untrusted_login()
        return name, last_token, None

    @staticmethod
    def login_failed(name):
        return SqlError(18456, "Login failed for user '%s'." % name, state=1, severity=14)

    def check_login(self, request, name):
        if request.database and self.server.databases.canonical(request.database) is None:
            return SqlError(4060, 'Cannot open database "%s" requested by the login. The login failed.'
                            % request.database, state=1, severity=11)
        return None

    def drop(self, when):
        """Closes the connection abruptly (a fault); the thread ends."""
        self.log('dropping the connection: %s (fault)' % when)
        self.stream.close()
        raise ConnectionClosed()

    def _drop_long_rpc(self, kind):
        if kind == packets.RPC:
            self.drop('an RPC request is still arriving')

    # --- requests -------------------------------------------------------------
    def serve(self):
        from .rpc import handle_rpc
        from .transactions import handle_transaction_request
        cut_off = self._drop_long_rpc if self.faults.drop_during_upload else None
        while not self.server.stopping.is_set():
            kind, payload = self.stream.read_message(cut_off)
            reply = Reply(self)
            out = Output(reply, self.session, log=self.log)
            try:
                if kind == packets.ATTENTION:
                    reply.add(tokens.done(tokens.DONE_ATTN))
                    reply.finish()
                    continue
                if kind == packets.SQL_BATCH:
                    text = request_body(payload).decode('utf-16-le', errors='replace')
                    self.server.trace(self, 'batch: %s' % text)
                    self.session.variables = {}       # variables live for one batch
                    self.session.execute_batch(text, out)
                elif kind == packets.RPC:
                    handle_rpc(self, payload, out)
                elif kind == packets.TRANSACTION_MANAGER:
                    handle_transaction_request(self, payload, out)
                else:
                    self.log('unexpected packet type 0x%02X' % kind)
                    out.error(SqlError(4002, 'The incoming tabular data stream (TDS) protocol stream is '
                                             'incorrect.', severity=16))
                    out.done(error=True)
                out.finish()
            except ReplyAbandoned:
                pass
            except AttentionReceived:
                self.log('request cancelled by the client')
                out.pending_done = None
                reply.acknowledge_attention()
                self.stream.attention = False
            except (ConnectionClosed, OSError):
                raise
            except Exception as failure:
                # One request's failure is that request's error: the client keeps its connection.
                self.fail_request(failure, kind, reply, out)

    def fail_request(self, failure, kind, reply, out):
        error = failure if isinstance(failure, SqlError) else \
            internal_error(failure, 'request of packet type 0x%02X' % kind)
        if reply.closed:
            self.log('error after the reply was sent: %s' % error.message)
            return
        out.in_procedure = False
        out.error(error)
        out.done(error=True, token=tokens.DONEPROC if kind == packets.RPC else None)
        out.finish()
