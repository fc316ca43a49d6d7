/* A PAM module for the tests. It appends every call it receives, with its flags, to the file
 * named by log=PATH, one line each:
 *   start service=S user=U     the first call on a handle (U is "(null)" when pam_start had none)
 *   authenticate flags=F | acct_mgmt flags=F | setcred flags=F | open_session flags=F |
 *   close_session flags=F
 *   end status=S               from pam_end, through the module data clean-up
 * Arguments (each may be given once per service-file line):
 *   fail=STEP:CODE   return CODE from STEP (authenticate, acct_mgmt, setcred_establish,
 *                    setcred_reinitialize, setcred_delete, open_session, close_session)
 *   at=STEP          the step that sends the messages below (default authenticate)
 *   info=TEXT | error=TEXT   send one PAM_TEXT_INFO / PAM_ERROR_MSG; a failed conversation
 *                    is logged as "conv rc=N" and returned
 *   converse=LIST    one conversation with the styles in LIST (info,error,echo_on,echo_off,
 *                    binary), logged as "conv rc=N" and "resp[i]=TEXT|(null) retcode=R"
 *   ask_user         pam_get_user, logged as "user=NAME"
 *   password=TEXT    pam_get_authtok; a different answer fails with PAM_AUTH_ERR
 *   set_user=NAME | clear_user   change PAM_USER in open_session
 *   spawn=SECONDS    in open_session, start "/bin/sleep SECONDS" and leave it running, as
 *                    modules that start a user's daemon do; logged as "spawned pid=N"
 * Preloaded with LD_PRELOAD, it also lets the environment force the results of pam_start
 * (PAM_VESKO_TEST_START_RESULT, without calling the real one) and pam_authenticate
 * (PAM_VESKO_TEST_AUTHENTICATE_RESULT, after the real one): libpam itself never returns codes
 * outside 0..31. */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <security/pam_appl.h>
#include <security/pam_ext.h>
#include <security/pam_modules.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#define DATA_KEY "pam_vesko_test"
#define MAX_MESSAGES 16

struct options {
    const char* log;
    const char* fail_step;
    int fail_code;
    const char* at;
    const char* info;
    const char* error;
    const char* converse;
    int ask_user;
    const char* password;
    const char* set_user;
    int clear_user;
    const char* spawn;
};

static void parse_options(int argc, const char** argv, struct options* opt) {
    static char fail_step[64];
    memset(opt, 0, sizeof *opt);
    opt->at = "authenticate";
    for (int i = 0; i < argc; ++i) {
        const char* arg = argv[i];
        if (strncmp(arg, "log=", 4) == 0) {
            opt->log = arg + 4;
        } else if (strncmp(arg, "fail=", 5) == 0) {
            const char* colon = strrchr(arg, ':');
            size_t len = colon == NULL ? 0 : (size_t)(colon - (arg + 5));
            if (colon != NULL && len < sizeof fail_step) {
                memcpy(fail_step, arg + 5, len);
                fail_step[len] = '\0';
                opt->fail_step = fail_step;
                opt->fail_code = atoi(colon + 1);
            }
        } else if (strncmp(arg, "at=", 3) == 0) {
            opt->at = arg + 3;
        } else if (strncmp(arg, "info=", 5) == 0) {
            opt->info = arg + 5;
        } else if (strncmp(arg, "error=", 6) == 0) {
            opt->error = arg + 6;
        } else if (strncmp(arg, "converse=", 9) == 0) {
            opt->converse = arg + 9;
        } else if (strcmp(arg, "ask_user") == 0) {
            opt->ask_user = 1;
        } else if (strncmp(arg, "password=", 9) == 0) {
            opt->password = arg + 9;
        } else if (strncmp(arg, "set_user=", 9) == 0) {
            opt->set_user = arg + 9;
        } else if (strcmp(arg, "clear_user") == 0) {
            opt->clear_user = 1;
        } else if (strncmp(arg, "spawn=", 6) == 0) {
            opt->spawn = arg + 6;
        }
    }
}

static void append(const char* path, const char* format, ...) {
    if (path == NULL) {
        return;
    }
    FILE* file = fopen(path, "a");
    if (file == NULL) {
        return;
    }
    va_list args;
    va_start(args, format);
    vfprintf(file, format, args);
    va_end(args);
    fputc('\n', file);
    fclose(file);
}

static void log_end(pam_handle_t* pamh, void* data, int error_status) {
    (void)pamh;
    append((const char*)data, "end status=%d", error_status);
    free(data);
}

static void note_start(pam_handle_t* pamh, const struct options* opt) {
    const void* seen = NULL;
    if (opt->log == NULL || pam_get_data(pamh, DATA_KEY, &seen) == PAM_SUCCESS) {
        return;
    }
    const void* service = NULL;
    const void* user = NULL;
    pam_get_item(pamh, PAM_SERVICE, &service);
    pam_get_item(pamh, PAM_USER, &user);
    append(opt->log, "start service=%s user=%s", service ? (const char*)service : "(null)",
           user ? (const char*)user : "(null)");
    char* path = strdup(opt->log);
    if (path != NULL) {
        pam_set_data(pamh, DATA_KEY, path, log_end);
    }
}

static int style_of(const char* name, size_t len) {
    static const struct {
        const char* name;
        int style;
    } styles[] = {
        {"info", PAM_TEXT_INFO},
        {"error", PAM_ERROR_MSG},
        {"echo_on", PAM_PROMPT_ECHO_ON},
        {"echo_off", PAM_PROMPT_ECHO_OFF},
        {"binary", 7},
    };
    for (size_t i = 0; i < sizeof styles / sizeof styles[0]; ++i) {
        if (strlen(styles[i].name) == len && strncmp(styles[i].name, name, len) == 0) {
            return styles[i].style;
        }
    }
    return PAM_TEXT_INFO;
}

/* One conversation call with the given styles; logs and returns its result. */
static int converse(pam_handle_t* pamh, const struct options* opt, const int* styles, int count,
                    const char* text) {
    const void* item = NULL;
    int rc = pam_get_item(pamh, PAM_CONV, &item);
    const struct pam_conv* conv = item;
    if (rc != PAM_SUCCESS || conv == NULL || conv->conv == NULL) {
        append(opt->log, "no conversation");
        return PAM_CONV_ERR;
    }
    struct pam_message messages[MAX_MESSAGES];
    const struct pam_message* pointers[MAX_MESSAGES];
    for (int i = 0; i < count; ++i) {
        messages[i].msg_style = styles[i];
        messages[i].msg = text;
        pointers[i] = &messages[i];
    }
    struct pam_response* responses = NULL;
    rc = conv->conv(count, pointers, &responses, conv->appdata_ptr);
    append(opt->log, "conv rc=%d", rc);
    if (rc == PAM_SUCCESS && responses != NULL) {
        for (int i = 0; i < count; ++i) {
            append(opt->log, "resp[%d]=%s retcode=%d", i,
                   responses[i].resp ? responses[i].resp : "(null)", responses[i].resp_retcode);
            free(responses[i].resp);
        }
        free(responses);
    }
    return rc;
}

static int send_messages(pam_handle_t* pamh, const struct options* opt) {
    if (opt->info != NULL) {
        const int style = PAM_TEXT_INFO;
        int rc = converse(pamh, opt, &style, 1, opt->info);
        if (rc != PAM_SUCCESS) {
            return rc;
        }
    }
    if (opt->error != NULL) {
        const int style = PAM_ERROR_MSG;
        int rc = converse(pamh, opt, &style, 1, opt->error);
        if (rc != PAM_SUCCESS) {
            return rc;
        }
    }
    if (opt->converse != NULL) {
        int styles[MAX_MESSAGES];
        int count = 0;
        const char* p = opt->converse;
        while (*p != '\0' && count < MAX_MESSAGES) {
            size_t len = strcspn(p, ",");
            styles[count++] = style_of(p, len);
            p += len;
            if (*p == ',') {
                ++p;
            }
        }
        int rc = converse(pamh, opt, styles, count, "message");
        if (rc != PAM_SUCCESS) {
            return rc;
        }
    }
    if (opt->ask_user) {
        const char* user = NULL;
        int rc = pam_get_user(pamh, &user, NULL);
        append(opt->log, "user=%s rc=%d", user ? user : "(null)", rc);
        if (rc != PAM_SUCCESS) {
            return rc;
        }
    }
    if (opt->password != NULL) {
        const char* token = NULL;
        int rc = pam_get_authtok(pamh, PAM_AUTHTOK, &token, NULL);
        if (rc != PAM_SUCCESS) {
            append(opt->log, "password rc=%d", rc);
            return rc;
        }
        const int right = token != NULL && strcmp(token, opt->password) == 0;
        append(opt->log, "password %s", right ? "right" : "wrong");
        if (!right) {
            return PAM_AUTH_ERR;
        }
    }
    return PAM_SUCCESS;
}

static int run_step(pam_handle_t* pamh, int argc, const char** argv, const char* call,
                    const char* step, int flags) {
    struct options opt;
    parse_options(argc, argv, &opt);
    note_start(pamh, &opt);
    append(opt.log, "%s flags=%d", call, flags);
    if (strcmp(step, "open_session") == 0) {
        if (opt.spawn != NULL) {
            pid_t pid = fork();
            if (pid == 0) {
                execl("/bin/sleep", "sleep", opt.spawn, (char*)NULL);
                _exit(127);
            }
            append(opt.log, "spawned pid=%d", (int)pid);
        }
        if (opt.clear_user) {
            pam_set_item(pamh, PAM_USER, NULL);
        } else if (opt.set_user != NULL) {
            pam_set_item(pamh, PAM_USER, opt.set_user);
        }
    }
    if (strcmp(step, opt.at) == 0) {
        int rc = send_messages(pamh, &opt);
        if (rc != PAM_SUCCESS) {
            return rc;
        }
    }
    if (opt.fail_step != NULL && strcmp(step, opt.fail_step) == 0) {
        return opt.fail_code;
    }
    return PAM_SUCCESS;
}

PAM_EXTERN int pam_sm_authenticate(pam_handle_t* pamh, int flags, int argc, const char** argv) {
    return run_step(pamh, argc, argv, "authenticate", "authenticate", flags);
}

PAM_EXTERN int pam_sm_setcred(pam_handle_t* pamh, int flags, int argc, const char** argv) {
    const char* step = "setcred_other";
    if (flags & PAM_ESTABLISH_CRED) {
        step = "setcred_establish";
    } else if (flags & PAM_REINITIALIZE_CRED) {
        step = "setcred_reinitialize";
    } else if (flags & PAM_DELETE_CRED) {
        step = "setcred_delete";
    }
    return run_step(pamh, argc, argv, "setcred", step, flags);
}

PAM_EXTERN int pam_sm_acct_mgmt(pam_handle_t* pamh, int flags, int argc, const char** argv) {
    return run_step(pamh, argc, argv, "acct_mgmt", "acct_mgmt", flags);
}

PAM_EXTERN int pam_sm_open_session(pam_handle_t* pamh, int flags, int argc, const char** argv) {
    return run_step(pamh, argc, argv, "open_session", "open_session", flags);
}

PAM_EXTERN int pam_sm_close_session(pam_handle_t* pamh, int flags, int argc, const char** argv) {
    return run_step(pamh, argc, argv, "close_session", "close_session", flags);
}

/* Interposition, active only when preloaded and asked for through the environment. */

typedef int (*start_function)(const char*, const char*, const struct pam_conv*, pam_handle_t**);
typedef int (*authenticate_function)(pam_handle_t*, int);

int pam_start(const char* service_name, const char* user, const struct pam_conv* pam_conversation,
              pam_handle_t** pamh) {
    const char* forced = getenv("PAM_VESKO_TEST_START_RESULT");
    if (forced != NULL) {
        return atoi(forced);
    }
    start_function real = NULL;
    /* The POSIX way to turn dlsym's answer into a function pointer. */
    *(void**)&real = dlsym(RTLD_NEXT, "pam_start");
    return real == NULL ? PAM_SYSTEM_ERR : real(service_name, user, pam_conversation, pamh);
}

int pam_authenticate(pam_handle_t* pamh, int flags) {
    authenticate_function real = NULL;
    *(void**)&real = dlsym(RTLD_NEXT, "pam_authenticate");
    int rc = real == NULL ? PAM_SYSTEM_ERR : real(pamh, flags);
    const char* forced = getenv("PAM_VESKO_TEST_AUTHENTICATE_RESULT");
    return forced != NULL ? atoi(forced) : rc;
}
