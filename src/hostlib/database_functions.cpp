// The database family: the names compile and every call answers null at
// once, whatever its arguments, so pages written for a server with
// databases still run.
#include "hostlib/host_functions.h"

namespace tn
{

namespace
{

ereturnvalue noDatabase(SysCall&)
{
    return ereturnvalue::OK;
}

constexpr SysFunction row(const char* name, int32_t id)
{
    return Fn(name, id, ArgRule::any(), noDatabase);
}

constexpr SysFunction kDatabaseFunctions[] = {
    row("dbopendb", -13313),
    row("dbclosedb", -13314),
    row("dblisttables", -13315),
    row("dbdeletetable", -13316),
    row("dbopentable", -13317),
    row("dbclosetable", -13318),
    row("dbcreatetable", -13319),
    row("dbrepairtable", -13320),
    row("dbeof", -13328),
    row("dbbof", -13329),
    row("dbrecdeleted", -13330),
    row("dbgetignoredeleted", -13331),
    row("dbsetignoredeleted", -13332),
    row("dbcontainsmemos", -13333),
    row("dbrecordnum", -13334),
    row("dbnumrecords", -13335),
    row("dbrecordwidth", -13336),
    row("dbnext", -13344),
    row("dbprev", -13345),
    row("dbskip", -13346),
    row("dbskipdeleted", -13347),
    row("dbtop", -13348),
    row("dbbottom", -13349),
    row("dbgo", -13350),
    row("dbfieldindex", -13361),
    row("dbfieldname", -13362),
    row("dbfieldnames", -13363),
    row("dbnumfields", -13364),
    row("dbfieldtype", -13365),
    row("dbgetrow", -13366),
    row("dbsetrow", -13367),
    row("dbgetfieldvalue", -13368),
    row("dbsetfieldvalue", -13369),
    row("dbsettimestamp", -13370),
    row("dbappendstart", -13377),
    row("dbappend", -13378),
    row("dbdeleterec", -13379),
    row("dbundeleterec", -13380),
    row("dbindexindex", -13393),
    row("dbselectindex", -13394),
    row("dbnumindexes", -13395),
    row("dbseek", -13396),
    row("dbseeknext", -13397),
    row("dbpack", -13409),
    row("dbzap", -13410),
};

} // namespace

std::span<const SysFunction> DatabaseFunctions()
{
    return kDatabaseFunctions;
}

} // namespace tn
