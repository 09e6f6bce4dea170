"""The token stream of one response: results, messages and DONE tokens with
the MORE flag on every DONE that is not the last token."""
from . import tokens


class Output:
    def __init__(self, reply, session, in_procedure=False, log=None):
        self.reply = reply
        self.log = log
        self.session = session
        self.in_procedure = in_procedure
        self.pending_done = None      # (token, status, rowcount, curcmd)
        self.failed = False

    def _flush_done(self, more=True):
        if self.pending_done is not None:
            token, status, rowcount, curcmd = self.pending_done
            self.pending_done = None
            if more:
                status |= tokens.DONE_MORE
            self.reply.add(tokens.done(status, rowcount, token, curcmd))

    def add(self, data):
        self._flush_done()
        self.reply.add(data)

    def result(self, columns, rows):
        self.add(tokens.colmetadata(columns))
        for row in rows:
            self.reply.row(columns, row)

    def done(self, rowcount=None, curcmd=0, error=False, token=None):
        self._flush_done()
        status = tokens.DONE_ERROR if error else 0
        if self.session is not None and self.session.trancount > 0:
            status |= tokens.DONE_INXACT
        if self.session is not None and self.session.nocount:
            rowcount = None
        if rowcount is not None and rowcount < 0:
            rowcount = None
        if token is None:
            token = tokens.DONEINPROC if self.in_procedure else tokens.DONE
        self.pending_done = (token, status, rowcount, curcmd)
        if error:
            self.failed = True

    def error(self, err):
        if self.log is not None:
            self.log('error %d: %s' % (err.number, err.message))
        self.add(tokens.error(err))

    def info(self, number, text, state=1):
        self.add(tokens.info(number, text, state))

    def envchange(self, kind, new, old):
        self.add(tokens.envchange(kind, new, old))

    def finish(self):
        """Sends the last DONE without MORE and ends the message."""
        if self.pending_done is None:
            self.done()
        self._flush_done(more=False)
        self.reply.finish()
