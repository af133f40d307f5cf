// A control connection from the connect to the login, as the run tells it.
#include "upload/session.h"

#include "ftp/file_commands.h"

namespace {

LoginResult SecureAndLogIn(RunState& run) {
  FtpConnection& ftp = run.ftp();
  if (run.options.Encrypt && !run.options.ImplicitTls) {
    const LoginResult secured = SecureControl(ftp);
    if (secured.failed()) return secured;
  }
  if (run.Announce) run.WriteMessage("Производим авторизацию");
  LoginResult result = LogIn(ftp, run.options.UserLogin, run.options.UserPassword);
  if (!result.failed() && run.options.Encrypt) result = ProtectData(ftp);
  // A connection after the first, whose FEAT told that the server takes UTF-8 names.
  if (!result.failed()) UseUtf8Names(ftp);
  return result;
}

}  // namespace

Failure OpenSession(RunState& run) {
  if (run.Announce) {
    run.WriteMessage("Открываем соединение с узлом \"" + run.options.ServerHost + "\"");
  }
  LoginResult result = Greet(run.ftp(), run.options.ServerAddress, run.options.ServerPort);
  if (!result.failed()) result = SecureAndLogIn(run);
  return LoginFailure(run.options, result);
}

Failure EnterDirectory(RunState& run, const std::string& path, Walk walk) {
  const Reply reply = ChangeDirectory(run.ftp(), path);
  if (reply.IsPositive()) return Failure();
  return DirectoryFailure({NotFoundMessage(path)}, reply, walk);
}
