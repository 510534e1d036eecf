#pragma once

#include <string>
#include <vector>

namespace standin {

// The platform plug-in's "Save to Server", played for a document the client opened: reads
// the open's record beside the document ("CurrentDocumentDB.xml"), changes the document,
// exports a PDF beside it, writes the save request (current format; archive 1 the chapter's
// files, archive 2 the PDF) into the client's upload folder and runs `client` followed by
// "kelv:save:<id>", where id is the record's TPVID. Returns the client's exit status, or -1
// when the record is missing or something could not be written or started; id is set once
// known.
int SaveToServer(const std::string& document, const std::vector<std::string>& client,
                 std::string& id);

}  // namespace standin
